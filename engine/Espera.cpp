#include "engine/Espera.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/memory.h"
#include "platform/ports.h"
#include "platform/thread.h"

using namespace win32;

namespace {

std::atomic<std::int64_t> bloquesVivos{0};

// Freed block buffers kept for the next reads: mapping and zeroing 2 MiB for every block
// cost the origin about as much time as reading it.
constexpr std::size_t kReservaMaxima = 16;
std::mutex reservaLock;                             // Guards reserva.
std::vector<void*>* reserva = new std::vector<void*>;  // Buffers of kBloque bytes; never freed.

// Whole blocks come from the pool; the last block of a file, smaller, from the heap, so that
// the many small files read ahead of a slow drive hold only their own size.
void* TomarBuffer(std::int64_t bytes) {
  if (bytes == kBloque) {
    {
      std::lock_guard guard(reservaLock);
      if (!reserva->empty()) {
        void* buffer = reserva->back();
        reserva->pop_back();
        return buffer;
      }
    }
  } else if (bytes < kBloque) {
    return std::aligned_alloc(4096, static_cast<std::size_t>(Redondear(std::max<std::int64_t>(bytes, 1), 4096)));
  }
  return VirtualAlloc(nullptr, static_cast<std::size_t>(bytes), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_NOCACHE);
}

void DevolverBuffer(void* buffer, std::int64_t bytes) {
  if (bytes < kBloque) {
    std::free(buffer);
    return;
  }
  if (bytes == kBloque) {
    std::lock_guard guard(reservaLock);
    if (reserva->size() < kReservaMaxima) {
      reserva->push_back(buffer);
      return;
    }
  }
  VirtualFree(buffer, 0, MEM_RELEASE);
}

}  // namespace

std::int64_t Redondear(std::int64_t valor, std::uint32_t paso) {
  if (paso == 0) paso = 512;
  const std::int64_t step = paso;
  return (valor / step + (valor % step != 0 ? 1 : 0)) * step;
}

std::u16string Camino(char16_t letra, const std::u16string& nombre) {
  std::u16string path = u"\\\\?\\";
  path += letra;
  path += u":\\";
  path += nombre;
  return path;
}

std::int64_t BloquesVivos() { return bloquesVivos.load(); }

TEspera::~TEspera() {
  if (BufCount == nullptr) return;
  if (BufCount->fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete BufCount;
    if (Buf != nullptr) {
      DevolverBuffer(Buf, Bloque);
      bloquesVivos.fetch_sub(1);
    }
  }
}

void TEspera::ExeIO(HANDLE CP, std::uint32_t, char16_t, HANDLE&) {
  if (Despertador != nullptr) {
    Despertador->Esperar(std::chrono::milliseconds(Plazo));
  } else {
    Sleep(static_cast<DWORD>(Plazo));
  }
  PostarVacio(CP);
}

void TEspera::OnExeIO() {}

void TEspera::OnReadError() {}

bool TEspera::BorrarDestino(TDHilo*) { return false; }

bool TEspera::CrearBuf(std::int64_t) {
  BufCount = new std::atomic<std::int32_t>(1);
  return true;
}

void TEspera::LlenarDList(std::vector<TDHilo*>&) {}

void TEspera::SetOverlappedPos(std::int64_t OPos) {
  ORec.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(OPos) & 0xFFFFFFFFu);
  ORec.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(OPos) >> 32);
}

namespace espera_detalle {

bool ReservarBloque(TEspera& op, std::int64_t memoriaLibre) {
  MEMORYSTATUSEX status;
  status.dwLength = 64;
  if (!GlobalMemoryStatusEx(&status)) return false;
  if (status.ullAvailPhys <= static_cast<std::uint64_t>(memoriaLibre)) return false;
  op.Buf = TomarBuffer(op.Bloque);
  if (op.Buf == nullptr) return false;
  // A reused buffer still holds another file's bytes: the sectors past the file's end that
  // the destinations write (and then cut) get zeros, not those.
  const std::int64_t resto = std::max<std::int64_t>(op.FTalla - op.FPos, 0);
  if (resto < op.Bloque) std::memset(static_cast<char*>(op.Buf) + resto, 0, static_cast<std::size_t>(op.Bloque - resto));
  bloquesVivos.fetch_add(1);
  op.Cache = op.Bloque;
  op.BufCount = new std::atomic<std::int32_t>(1);
  return true;
}

}  // namespace espera_detalle

void PostarVacio(HANDLE CP) { PostQueuedCompletionStatus(CP, 0, 0, nullptr); }

void PostarFallo(HANDLE CP, TEspera& op, DWORD code) {
  op.ORec.Internal = code == ERROR_SUCCESS ? ERROR_GEN_FAILURE : code;
  PostQueuedCompletionStatus(CP, 0, 0, &op.ORec);
}

bool CerrarIOFile(HANDLE& IOFile) {
  bool closed = true;
  if (IOFile != INVALID_HANDLE_VALUE && !CloseHandle(IOFile)) {
    CancelIo(IOFile);
    closed = false;
  }
  IOFile = INVALID_HANDLE_VALUE;
  return closed;
}
