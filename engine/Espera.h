#pragma once

// The operations a worker executes one after another on its completion port, and the block
// buffers they share.
//
// Block buffer. A read allocates one page-aligned buffer of Bloque bytes and a count set to 1
// (CrearBuf). When the read completes it adds N, once, for the N write operations it then
// creates, all pointing at the same buffer and the same count. Destroying any of these
// operations decrements the count; the one that brings it to 0 frees the count and the
// buffer. The count is atomic because a destination that ends releases its remaining
// operations on its own thread while the origin releases others. An operation whose transfer
// the kernel still owns is never destroyed: its worker cancels the transfer and dequeues the
// completion first (TDHilo::CancelarTransferencia), so the buffer is never freed under a
// transfer.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Despertador.h"
#include "engine/Tipos.h"
#include "platform/types.h"

class TDHilo;

// The block of a read, shared by every destination.
constexpr std::int64_t kBloque = 2097152;

// A file of one block or less goes through the page cache at both ends, without
// preallocation: opening unbuffered and preallocating cost more than the transfer. Its pages
// are dropped once they are on the device.
inline bool ArchivoPequeno(std::int64_t talla) { return talla <= kBloque; }
// The blocks a file of that size is read in (and checksummed by).
inline std::int64_t BloquesDe(std::int64_t talla) { return (talla + kBloque - 1) / kBloque; }

class TEspera {
 public:
  TEspera() = default;
  TEspera(const TEspera&) = delete;
  TEspera& operator=(const TEspera&) = delete;
  virtual ~TEspera();

  // The wait operation: waits up to 200 ms for its worker to be given work (at once when it
  // was given some since it last looked), then posts one empty completion.
  virtual void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile);
  virtual void OnExeIO();
  virtual void OnReadError();
  virtual bool BorrarDestino(TDHilo* DH);
  // A count of 1 and no buffer; never refuses.
  virtual bool CrearBuf(std::int64_t MemoriaLibre);
  virtual void LlenarDList(std::vector<TDHilo*>& DL);

  void SetOverlappedPos(std::int64_t OPos);

  std::atomic<std::int32_t>* BufCount = nullptr;  // Shared with the writes of the same block.
  void* Buf = nullptr;
  win32::OVERLAPPED ORec{};
  win32::DWORD IOBytes = 0;
  std::int64_t Cache = 0;
  std::int64_t Bloque = 0;
  std::int64_t BufBytes = 0;
  std::int64_t FPos = 0;
  std::int64_t FTalla = 0;
  std::u16string ONombre;
  std::u16string DNombre;
  std::u16string FStr;
  std::uint32_t FAtributos = 0;
  TFTiempo FTiempo{};
  // The waking flag of the worker a placeholder was made by; none, and it sleeps its turn.
  TDespertador* Despertador = nullptr;
  // The longest a placeholder waits, in milliseconds.
  std::int32_t Plazo = 200;
  // Set by a finished copy whose times and attributes wait for the next flush of its drive.
  bool PorSellar = false;
  // Set by a destination whose operation failed for its file alone (the drive went on).
  bool Fallida = false;
  // A write's block checksum, computed once by the origin from the read that filled Buf.
  std::uint64_t Suma = 0;
  bool ConSuma = false;
};

// Block buffers alive now (allocated and not yet freed), for tests and benchmarks.
std::int64_t BloquesVivos();

namespace espera_detalle {
// Allocates a buffer and its count of 1 while more than memoriaLibre bytes of physical memory
// are available; false, with nothing allocated, otherwise.
bool ReservarBloque(TEspera& op, std::int64_t memoriaLibre);
}  // namespace espera_detalle

// Posts the one empty completion of a synchronous operation.
void PostarVacio(win32::HANDLE CP);
// Posts the completion of a synchronous operation that failed: its own overlapped record,
// carrying the error code, so that the worker's wait fails with that code at once.
void PostarFallo(win32::HANDLE CP, TEspera& op, win32::DWORD code);
// Closes a handle the way every operation does: CloseHandle, and CancelIo if that fails;
// the handle becomes invalid. True when it closed.
bool CerrarIOFile(win32::HANDLE& IOFile);
