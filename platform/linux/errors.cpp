#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string.h>
#include <sys/stat.h>

#include "platform/errors.h"
#include "platform/linux/internal.h"
#include "platform/strings.h"

namespace win32 {

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

struct ErrnoCode {
  int error;
  DWORD code;
};

// errno values and the Win32 codes Windows gives for the same failure. The first entry for
// a code is also the errno whose text describes that code.
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},     {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},     {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY}, {EXDEV, ERROR_NOT_SAME_DEVICE},
    {EROFS, ERROR_WRITE_PROTECT},      {ENXIO, ERROR_NOT_READY},
    {ENOMEDIUM, ERROR_NOT_READY},      {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED}, {EEXIST, ERROR_FILE_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER}, {ENOSPC, ERROR_DISK_FULL},
    {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED}, {ETIMEDOUT, ERROR_SEM_TIMEOUT},
    {ESPIPE, ERROR_SEEK_ON_DEVICE},    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EBUSY, ERROR_BUSY},               {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EFBIG, ERROR_FILE_TOO_LARGE},     {EFAULT, ERROR_INVALID_ADDRESS},
    {ECANCELED, ERROR_OPERATION_ABORTED}, {EIO, ERROR_IO_DEVICE},
    {ENODEV, ERROR_DEVICE_NOT_CONNECTED}, {ENOTCONN, ERROR_DEVICE_NOT_CONNECTED},
    {ESTALE, ERROR_DEVICE_NOT_CONNECTED}, {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME}, {EAGAIN, ERROR_BUSY},
};

struct OwnText {
  DWORD code;
  const char* english;
  const char* spanish;
};

// Codes that no errno describes.
constexpr OwnText kOwnTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully.",
     "La operación se completó correctamente."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.",
     "El sistema no puede encontrar la ruta especificada."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.",
     "La sintaxis del nombre de archivo, directorio o volumen no es correcta."},
    {WAIT_TIMEOUT, "The wait operation timed out.", "Se superó el tiempo de espera."},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress.",
     "Operación de E/S superpuesta en progreso."},
    {ERROR_NOT_FOUND, "Element not found.", "No se encontró el elemento."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.",
     "Uno de los dispositivos vinculados al sistema no funciona."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.",
     "No se puede crear un archivo que ya existe."},
    {ERROR_NO_MORE_FILES, "There are no more files.", "No hay más archivos."},
    {ERROR_HANDLE_EOF, "Reached the end of the file.", "Se ha llegado al final del archivo."},
    {ERROR_INVALID_DATA, "The data is invalid.", "Los datos no son válidos."},
    {ERROR_DIRECTORY, "The directory name is invalid.", "El nombre del directorio no es válido."},
    {ERROR_CRC, "Data error (cyclic redundancy check).", "Error de datos (comprobación de redundancia cíclica)."},
};

bool SpanishMessages() {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return std::strncmp(value, "es", 2) == 0;
  }
  return false;
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

std::u16string ErrorMessage(DWORD code) {
  static const bool spanish = SpanishMessages();
  for (const OwnText& text : kOwnTexts) {
    if (text.code == code) return Utf16(spanish ? text.spanish : text.english);
  }
  const int error = detail::ErrnoForError(code);
  if (error != 0) {
    static const locale_t messages = newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(0));
    const char* text = messages != static_cast<locale_t>(0) ? strerror_l(error, messages)
                                                            : std::strerror(error);
    return Utf16(text);
  }
  return Utf16((spanish ? "Error " : "Error ") + std::to_string(code) + ".");
}

namespace detail {

DWORD ErrorFromErrno(int error, const std::string* path) {
  if (error == ENOENT && path != nullptr) {
    const auto slash = path->find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      struct stat st {};
      const std::string folder = path->substr(0, slash);
      if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_FILE_NOT_FOUND;
  }
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.error == error) return entry.code;
  }
  return ERROR_GEN_FAILURE;
}

bool FailErrno(int error, const std::string* path) {
  SetLastError(ErrorFromErrno(error, path));
  return false;
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

int ErrnoForError(DWORD code) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.code == code) return entry.error;
  }
  return 0;
}

}  // namespace detail
}  // namespace win32
