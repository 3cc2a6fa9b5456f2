#include "engine/OperacionesOrigen.h"

#include <algorithm>
#include <memory>

#include "engine/DHilo.h"
#include "engine/OperacionesDestino.h"
#include "engine/Verificacion.h"
#include "platform/files.h"
#include "platform/ports.h"

using namespace win32;

void TListaHilos::Add(TDHilo* DH) {
  std::lock_guard guard(lock_);
  if (std::find(items_.begin(), items_.end(), DH) == items_.end()) items_.push_back(DH);
}

bool TListaHilos::Borrar(TDHilo* DH) {
  std::lock_guard guard(lock_);
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    if (*it == DH) {
      items_.erase(std::next(it).base());
      return true;
    }
  }
  return false;
}

std::vector<TDHilo*> TListaHilos::Copia() const {
  std::lock_guard guard(lock_);
  return items_;
}

template <class Destino, class Llenar>
void TAbrirCarpeta::Repartir(Llenar&& llenar) {
  DList.Con([&](const std::vector<TDHilo*>& destinos) {
    for (TDHilo* DH : destinos) {
      auto op = std::make_unique<Destino>();
      llenar(*op);
      DH->IOList.Add(std::move(op));
    }
  });
}

void TAbrirCarpeta::ExeIO(HANDLE CP, std::uint32_t, char16_t, HANDLE&) { PostarVacio(CP); }

void TAbrirCarpeta::OnExeIO() {
  Repartir<TCrearCarpeta>([&](TEspera& d) {
    d.ONombre = ONombre;
    d.DNombre = DNombre;
    d.FAtributos = FAtributos;
    d.FTiempo = FTiempo;
  });
}

// The close carries the destination name as well, so that a destination can delete the
// partial file it had opened.
void TAbrirCarpeta::OnReadError() {
  Repartir<TCerrarArchivoIncompleto>([&](TEspera& d) {
    d.BufBytes = -FPos;
    d.DNombre = DNombre;
  });
}

bool TAbrirCarpeta::BorrarDestino(TDHilo* DH) { return DList.Borrar(DH); }

void TAbrirCarpeta::LlenarDList(std::vector<TDHilo*>& DL) {
  DList.Con([&](const std::vector<TDHilo*>& destinos) { DL.insert(DL.end(), destinos.begin(), destinos.end()); });
}

void TAbrirArchivoVacio::OnExeIO() {
  Repartir<TCrearArchivoVacio>([&](TEspera& d) {
    d.ONombre = ONombre;
    d.DNombre = DNombre;
    d.FAtributos = FAtributos;
    d.FTiempo = FTiempo;
  });
}

// The reads that follow were built for FTalla bytes. A file whose size changed since (it is
// being written) is not read with them: no completion, and the retry sees its new size.
void TAbrirArchivo::ExeIO(HANDLE CP, std::uint32_t, char16_t Letra, HANDLE& IOFile) {
  constexpr DWORD kLectura = FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL;  // 0x60000080
  // A small file is read through the page cache (its pages are dropped at its close).
  constexpr DWORD kLecturaPequena = FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;
  IOFile = CreateFileW(Camino(Letra, ONombre), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       ArchivoPequeno(FTalla) ? kLecturaPequena : kLectura, 0);
  if (IOFile == INVALID_HANDLE_VALUE) return;  // No completion: the origin's wait times out.
  std::int64_t size = 0;
  if (GetFileType(IOFile) == FILE_TYPE_DISK && GetFileSizeEx(IOFile, &size) && size != FTalla) {
    CerrarIOFile(IOFile);
    return;
  }
  CreateIoCompletionPort(IOFile, CP, 0, 1);
  PostarVacio(CP);
}

void TArchivoAusente::ExeIO(HANDLE, std::uint32_t, char16_t, HANDLE&) {}

void TAbrirArchivo::OnExeIO() {
  Repartir<TCrearArchivo>([&](TEspera& d) {
    d.ONombre = ONombre;
    d.DNombre = DNombre;
    d.FStr = FStr;
    d.FTalla = FTalla;
  });
}

void TLeerArchivo::ExeIO(HANDLE, std::uint32_t, char16_t, HANDLE& IOFile) {
  ReadFile(IOFile, Buf, static_cast<DWORD>(BufBytes), &IOBytes, &ORec);
}

void TLeerArchivo::OnExeIO() {
  // One checksum for every destination, of the file's bytes only.
  const std::uint64_t suma = SumaBloque(Buf, std::min(BufBytes, FTalla - FPos));
  DList.Con([&](const std::vector<TDHilo*>& destinos) {
    // Every share is counted before the first write exists.
    BufCount->fetch_add(static_cast<std::int32_t>(destinos.size()), std::memory_order_relaxed);
    for (TDHilo* DH : destinos) {
      auto w = std::make_unique<TEscribirArchivo>();
      w->Buf = Buf;
      w->BufCount = BufCount;
      w->ONombre = ONombre;
      w->DNombre = DNombre;
      w->FStr = FStr;
      w->FTalla = FTalla;
      w->Cache = Cache;
      w->Bloque = Bloque;
      w->FPos = FPos;
      w->ORec = ORec;
      w->Suma = suma;
      w->ConSuma = true;
      // Whole sectors of the destination's own size, counted from the file's true rest
      // (not from the origin's rounding), so that what it writes is what its total expects.
      w->BufBytes = Redondear(std::min(BufBytes, FTalla - FPos), DH->SectorSizeActual());
      DH->IOList.Add(std::move(w));
    }
  });
}

bool TLeerArchivo::CrearBuf(std::int64_t MemoriaLibre) { return espera_detalle::ReservarBloque(*this, MemoriaLibre); }

void TCerrarArchivo::ExeIO(HANDLE CP, std::uint32_t, char16_t, HANDLE& IOFile) {
  if (ArchivoPequeno(FTalla) && !ConservarCache && IOFile != INVALID_HANDLE_VALUE) DiscardFileCache(IOFile);
  CerrarIOFile(IOFile);
  PostarVacio(CP);
}

void TCerrarArchivo::OnExeIO() {
  Repartir<TCerrarArchivoCreado>([&](TEspera& d) {
    d.ONombre = ONombre;
    d.DNombre = DNombre;
    d.FStr = FStr;
    d.FPos = FPos;
    d.FTalla = FTalla;
    d.FAtributos = FAtributos;
    d.FTiempo = FTiempo;
  });
}
