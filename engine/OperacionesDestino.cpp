#include "engine/OperacionesDestino.h"

#include <algorithm>

#include "engine/Verificacion.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/ports.h"

using namespace win32;

namespace {

constexpr DWORD kCompartirTodo = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kCarpeta = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_POSIX_SEMANTICS;  // 0x03000000
constexpr DWORD kVacio = FILE_FLAG_POSIX_SEMANTICS;                                  // 0x01000000
constexpr DWORD kDatos = FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;  // 0x68000000
constexpr DWORD kCorte = FILE_FLAG_RANDOM_ACCESS | FILE_FLAG_POSIX_SEMANTICS;       // 0x11000000
constexpr DWORD kDatosPequenos = FILE_FLAG_OVERLAPPED;

// The last-write time of a copy whose data may not be on the device yet.
FILETIME Provisional(const FILETIME& fuente) {
  return Int64ToFileTime(FileTimeToInt64(fuente) - 36000000000LL);  // An hour earlier.
}

void FijarLongitud(HANDLE file, std::int64_t length) {
  std::int32_t high = static_cast<std::int32_t>(static_cast<std::uint64_t>(length) >> 32);
  SetFilePointer(file, static_cast<std::int32_t>(static_cast<std::uint32_t>(length)), &high, FILE_BEGIN);
}

// Sets the three times through a handle that is opened for it, and closes it again.
void Estampar(const std::u16string& path, const TFTiempo& tiempo, HANDLE& IOFile) {
  IOFile = CreateFileW(path, GENERIC_WRITE, kCompartirTodo, nullptr, OPEN_EXISTING, kCarpeta, 0);
  if (IOFile != INVALID_HANDLE_VALUE) {
    SetFileTime(IOFile, &tiempo.CTiempo, &tiempo.LTiempo, &tiempo.ETiempo);
    CerrarIOFile(IOFile);
  }
}

// An older copy that is read-only cannot be replaced by an ordinary user; it is made
// writable first (the new copy gets the source's attributes when it is finished).
void Reemplazable(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

}  // namespace

std::u16string CarpetaDe(const std::u16string& camino) {
  const auto cut = camino.find_last_of(u'\\');
  return cut == std::u16string::npos ? std::u16string() : camino.substr(0, cut + 1);
}

// A folder the drive cannot hold (a name its file system refuses) fails at once with the
// reason; the files under it fail one by one, and the drive goes on with the rest.
void TCrearCarpeta::ExeIO(HANDLE CP, std::uint32_t, char16_t Letra, HANDLE& IOFile) {
  const std::u16string P = Camino(Letra, DNombre);
  if (GetFileAttributesW(P) == INVALID_FILE_ATTRIBUTES && !ForceDirectories(P)) {
    PostarFallo(CP, *this, GetLastError());
    return;
  }
  SetFileAttributesW(P, FAtributos);
  Estampar(P, FTiempo, IOFile);
  IOFile = INVALID_HANDLE_VALUE;
  PostarVacio(CP);
}

// The times are set before the attributes: a read-only copy could not be opened to stamp it.
void TCrearArchivoVacio::ExeIO(HANDLE CP, std::uint32_t, char16_t Letra, HANDLE& IOFile) {
  const std::u16string P = Camino(Letra, DNombre);
  const std::u16string carpeta = CarpetaDe(P);
  if (GetFileAttributesW(carpeta) == INVALID_FILE_ATTRIBUTES) ForceDirectories(carpeta);
  Reemplazable(P);
  IOFile = CreateFileW(P, GENERIC_WRITE, kCompartirTodo, nullptr, CREATE_ALWAYS, kVacio, 0);
  if (IOFile == INVALID_HANDLE_VALUE) {
    PostarFallo(CP, *this, GetLastError());
    return;
  }
  CerrarIOFile(IOFile);
  Estampar(P, FTiempo, IOFile);
  SetFileAttributesW(P, FAtributos);
  IOFile = INVALID_HANDLE_VALUE;
  PostarVacio(CP);
}

// A small file is written through the page cache to its exact size; a large one is
// preallocated and written unbuffered in whole sectors, then cut at its close.
void TCrearArchivo::ExeIO(HANDLE CP, std::uint32_t SectorSize, char16_t Letra, HANDLE& IOFile) {
  const std::u16string P = Camino(Letra, DNombre);
  const bool pequeno = ArchivoPequeno(FTalla);
  const DWORD flags = pequeno ? kDatosPequenos : kDatos;
  IOFile = CreateFileW(P, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, 0);
  // The folder or an older read-only copy is seen to only when the create fails: looking
  // first costs every file two more calls.
  if (IOFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
    ForceDirectories(CarpetaDe(P));
    IOFile = CreateFileW(P, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, 0);
  }
  if (IOFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    Reemplazable(P);
    IOFile = CreateFileW(P, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, 0);
  }
  // The failure is posted at once with its reason: a name the drive refuses fails that file
  // only (TDHilo::ErrorArchivo), without a wait for the time-out.
  if (IOFile == INVALID_HANDLE_VALUE) {
    PostarFallo(CP, *this, GetLastError());
    return;
  }
  if (!pequeno) {
    FijarLongitud(IOFile, Redondear(FTalla, SectorSize));
    // A file larger than the file system allows (4 GiB on FAT32) fails here, not at a write.
    if (!SetEndOfFile(IOFile) && GetLastError() == ERROR_FILE_TOO_LARGE) {
      PostarFallo(CP, *this, ERROR_FILE_TOO_LARGE);
      return;
    }
  }
  CreateIoCompletionPort(IOFile, CP, 0, 1);
  PostarVacio(CP);
}

void TEscribirArchivo::ExeIO(HANDLE, std::uint32_t, char16_t, HANDLE& IOFile) {
  // What is counted stays whole sectors; a buffered copy gets the file's exact bytes.
  const std::int64_t bytes = ArchivoPequeno(FTalla) ? std::min(BufBytes, FTalla - FPos) : BufBytes;
  WriteFile(IOFile, Buf, static_cast<DWORD>(bytes), &IOBytes, &ORec);
}

// A large copy is reopened and cut to its size; a small one has its size already. Both get
// their provisional time and wait for the drive's flush (TSello). A copy that cannot be
// reopened or cut is deleted and the failure is posted at once with its own error code, so
// that the worker reports it instead of leaving a wrong file.
void TCerrarArchivoCreado::ExeIO(HANDLE CP, std::uint32_t, char16_t Letra, HANDLE& IOFile) {
  const std::u16string P = Camino(Letra, DNombre);
  const HANDLE datos = IOFile;
  const bool pequeno = ArchivoPequeno(FTalla);
  const FILETIME provisional = Provisional(FTiempo.ETiempo);
  if (pequeno && datos != INVALID_HANDLE_VALUE) {
    SetFileTime(datos, &FTiempo.CTiempo, &FTiempo.LTiempo, &provisional);
  }
  if (datos != INVALID_HANDLE_VALUE && CloseHandle(datos)) {
    DWORD fallo = ERROR_SUCCESS;
    if (!pequeno) {
      IOFile = CreateFileW(P, GENERIC_WRITE, kCompartirTodo, nullptr, OPEN_EXISTING, kCorte, 0);
      if (IOFile == INVALID_HANDLE_VALUE) fallo = GetLastError();
      if (IOFile != INVALID_HANDLE_VALUE) {
        FijarLongitud(IOFile, FTalla);
        if (!SetEndOfFile(IOFile)) fallo = GetLastError();
        SetFileTime(IOFile, &FTiempo.CTiempo, &FTiempo.LTiempo, &provisional);
        CerrarIOFile(IOFile);
      }
    }
    if (fallo != ERROR_SUCCESS) {
      DeleteFileW(P);
      IOFile = INVALID_HANDLE_VALUE;
      PostarFallo(CP, *this, fallo);
      return;
    }
    PorSellar = true;
  } else {
    CancelIo(datos);
    DeleteFileW(P);
  }
  IOFile = INVALID_HANDLE_VALUE;
  PostarVacio(CP);
}

TResultadoVolcado VolcarYSellar(char16_t Letra, const std::vector<TSello>& sellos, bool verificar) {
  TResultadoVolcado resultado;
  const std::u16string volumen{u'\\', u'\\', u'.', u'\\', Letra, u':'};
  HANDLE V = CreateFileW(volumen, GENERIC_READ, kCompartirTodo, nullptr, OPEN_EXISTING, 0, 0);
  if (V == INVALID_HANDLE_VALUE) {
    resultado.Fallo = GetLastError();
    return resultado;
  }
  const bool volcado = FlushFileBuffers(V);
  const DWORD fallo = volcado ? ERROR_SUCCESS : GetLastError();
  CerrarIOFile(V);
  if (!volcado) {
    resultado.Fallo = fallo == ERROR_SUCCESS ? ERROR_GEN_FAILURE : fallo;
    return resultado;
  }
  for (const TSello& sello : sellos) {
    if (!verificar || sello.Sumas.empty()) continue;
    const std::u16string P = Camino(Letra, sello.DNombre);
    if (GanchoAntesDeVerificar) GanchoAntesDeVerificar(P);
    if (ArchivoPequeno(sello.FTalla)) RecargarCopia(P);
  }
  // The times go before the attributes: a read-only copy could not be opened to stamp it.
  for (const TSello& sello : sellos) {
    const std::u16string P = Camino(Letra, sello.DNombre);
    if (verificar && !sello.Sumas.empty()) {
      const DWORD verificada = VerificarCopia(P, sello.FTalla, sello.Sumas);
      if (verificada == ERROR_FILE_NOT_FOUND) continue;  // Gone meanwhile: nothing to stamp.
      if (verificada != ERROR_SUCCESS) {
        // Never stamped, so never taken for its source; deleted, so the next run copies it.
        DeleteFileW(P);
        resultado.Malos.emplace_back(&sello, verificada);
        continue;
      }
      ++resultado.Verificados;
    }
    HANDLE F = CreateFileW(P, GENERIC_WRITE, kCompartirTodo, nullptr, OPEN_EXISTING, kCarpeta, 0);
    if (F == INVALID_HANDLE_VALUE) continue;  // Gone meanwhile: nothing to stamp.
    SetFileTime(F, &sello.FTiempo.CTiempo, &sello.FTiempo.LTiempo, &sello.FTiempo.ETiempo);
    DiscardFileCache(F);
    CerrarIOFile(F);
    SetFileAttributesW(P, sello.FAtributos);
    resultado.Sellados.push_back(&sello);
  }
  return resultado;
}

void TVolcarDestino::ExeIO(HANDLE CP, std::uint32_t, char16_t Letra, HANDLE&) {
  Resultado = VolcarYSellar(Letra, Sellos, Verificar);
  if (Resultado.Fallo != ERROR_SUCCESS) {
    PostarFallo(CP, *this, Resultado.Fallo);
    return;
  }
  PostarVacio(CP);
}

// The partial file is deleted rather than left at its preallocated length: the retry creates
// it anew, and a withdrawn destination is not left with a file that looks complete. Only a
// file this copy opened is deleted; without one, an older copy of the name stays.
void TCerrarArchivoIncompleto::ExeIO(HANDLE CP, std::uint32_t, char16_t Letra, HANDLE& IOFile) {
  const bool abierto = IOFile != INVALID_HANDLE_VALUE;
  CerrarIOFile(IOFile);
  if (abierto && !DNombre.empty()) DeleteFileW(Camino(Letra, DNombre));
  IOFile = INVALID_HANDLE_VALUE;
  PostarVacio(CP);
}
