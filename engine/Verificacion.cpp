#include "engine/Verificacion.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <xxhash.h>

#include "engine/Espera.h"
#include "platform/errors.h"
#include "platform/files.h"

using namespace win32;

std::function<void(const std::u16string& camino)> GanchoAntesDeVerificar;

std::uint64_t SumaBloque(const void* datos, std::int64_t bytes) {
  return XXH3_64bits(datos, static_cast<std::size_t>(bytes));
}

void RecargarCopia(const std::u16string& camino) {
  HANDLE file = CreateFileW(camino, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, 0);
  if (file == INVALID_HANDLE_VALUE) return;
  RefreshFileCache(file);
  CloseHandle(file);
}

DWORD VerificarCopia(const std::u16string& camino, std::int64_t talla, const std::vector<std::uint64_t>& sumas) {
  const std::int64_t bloques = BloquesDe(talla);
  if (static_cast<std::int64_t>(sumas.size()) != bloques) return ERROR_CRC;
  // A large copy unbuffered, so that the device answers and not the page cache (a file
  // system that refuses it is read through the cache, whose pages of this copy are dropped);
  // a small one from the pages RecargarCopia has just read from the device.
  const bool pequeno = ArchivoPequeno(talla);
  HANDLE file = CreateFileW(camino, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            (pequeno ? 0 : FILE_FLAG_NO_BUFFERING) | FILE_FLAG_SEQUENTIAL_SCAN, 0);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  if (!pequeno) DiscardFileCache(file);
  std::int64_t size = -1;
  DWORD result = ERROR_SUCCESS;
  if (!GetFileSizeEx(file, &size)) {
    result = GetLastError();
  } else if (size != talla) {
    result = ERROR_CRC;
  }
  struct Liberar {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<void, Liberar> buffer(result == ERROR_SUCCESS ? std::aligned_alloc(4096, kBloque) : nullptr);
  if (result == ERROR_SUCCESS && buffer == nullptr) result = ERROR_NOT_ENOUGH_MEMORY;
  for (std::int64_t i = 0; result == ERROR_SUCCESS && i < bloques; ++i) {
    const std::int64_t bytes = std::min(kBloque, talla - i * kBloque);
    DWORD leidos = 0;
    // Whole sectors are asked for; the read stops at the end of the file.
    if (!ReadFile(file, buffer.get(), static_cast<DWORD>(Redondear(bytes, 4096)), &leidos, nullptr)) {
      result = GetLastError();
    } else if (static_cast<std::int64_t>(leidos) < bytes ||
               SumaBloque(buffer.get(), bytes) != sumas[static_cast<std::size_t>(i)]) {
      result = ERROR_CRC;
    }
  }
  CloseHandle(file);
  return result;
}
