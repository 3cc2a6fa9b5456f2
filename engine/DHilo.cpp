// The worker: construction, the loop, the destination step, the capacity step, roles and
// the end of a worker.

#include "engine/DHilo.h"

#include <algorithm>
#include <chrono>
#include <typeinfo>

#include "engine/Busqueda.h"
#include "engine/OperacionesOrigen.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/ports.h"
#include "platform/process.h"

using namespace win32;

namespace {

// The key of the completion Terminate posts to wake a waiting worker; no transfer or
// operation uses it.
constexpr ULONG_PTR kClaveDespertar = 0x44455350;  // "DESP"
constexpr ULONG_PTR kClaveInicial = ~static_cast<ULONG_PTR>(0);

std::atomic<std::int64_t> vivos{0};

// Given-up operations of workers that have ended: their port is closed, so no completion
// will ever say that the kernel is done with their buffers. They are kept for the rest of
// the process.
std::mutex abandonadasLock;  // Guards huerfanas.
std::vector<std::unique_ptr<TEspera>>* huerfanas = new std::vector<std::unique_ptr<TEspera>>;

}  // namespace

TDHilo::TDHilo(TAjustes& ajustes) : Ajustes(ajustes) {
  SetFreeOnTerminate(true);  // Through DoTerminate and the last reference.
  vivos.fetch_add(1);
  Ajustes.Trabajadores.fetch_add(1);
  HRec.Letra = 0x85;  // No drive letter until the window's first refresh arrives.
  HRec.SectorSize = 512;
  HRec.MaxSectorSize = 512;
  AppRec = HRec;
  hrecVisible_ = HRec;
  IOList.Avisar(&despertador_);
  FList.Avisar(&despertador_);
  EliminarDestinosList.Avisar(&despertador_);
  IOCP = CreateIoCompletionPort(INVALID_HANDLE_VALUE, 0, 0, 1);
  IOLast = std::make_unique<TEspera>();
  IONext = std::make_unique<TEspera>();
  IONext->Despertador = &despertador_;
  IOError = std::make_unique<TEspera>();
  // The first wait returns at once.
  PostQueuedCompletionStatus(IOCP, 0, kClaveInicial, nullptr);
  PaintBoxColor = &Ajustes.ColorDestino;
  for (int i = 0; i < 11; ++i) anillo_[i].Last = &anillo_[(i + 1) % 11];
  VRec = &anillo_[0];
  Start();
}

TDHilo::~TDHilo() {
  vivos.fetch_sub(1);
  Ajustes.Trabajadores.fetch_sub(1);
}

std::int64_t TDHilo::Vivos() { return vivos.load(); }

void TDHilo::Retener() { referencias_.fetch_add(1, std::memory_order_relaxed); }

void TDHilo::Soltar() {
  if (referencias_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void TDHilo::EsOrigen() {
  OD.store(this, std::memory_order_release);
  rol_.store(Rol::Origen, std::memory_order_release);
  SetPriority(ThreadPriority::AboveNormal);
  PaintBoxColor = &Ajustes.ColorOrigen;
}

void TDHilo::EsDestino() { rol_.store(Rol::Destino, std::memory_order_release); }

void TDHilo::AsignarOD(TDHilo* origen) {
  if (origen == nullptr || GetOD() != nullptr) return;
  if (origen != this) origen->Retener();
  OD.store(origen, std::memory_order_release);
}

// The reference keeps the worker's memory until the wake-ups are sent, even when its thread
// sees the flag and ends at once.
void TDHilo::Terminate() {
  Retener();
  TThread::Terminate();
  IOList.Despertar();
  despertador_.Despertar();
  PostQueuedCompletionStatus(IOCP, 0, kClaveDespertar, nullptr);
  Soltar();
}

void TDHilo::AddDFin(std::int64_t I64) { DFinList.Add(I64); }

std::int64_t TDHilo::GetCache() {
  return IOList.Con([](const std::deque<std::unique_ptr<TEspera>>& list) {
    std::int64_t sum = 0;
    for (const auto& op : list) sum += op->Cache;
    return sum;
  });
}

THRec TDHilo::Identidad() const {
  std::lock_guard guard(TextosLock);
  return hrecVisible_;
}

// The worker takes the identity up in its next turn, which need not wait for the end of an
// idle one.
void TDHilo::SetAppRec(const THRec& rec) {
  {
    std::lock_guard guard(TextosLock);
    AppRec = rec;
  }
  despertador_.Despertar();
}

THRec TDHilo::GetAppRec() const {
  std::lock_guard guard(TextosLock);
  return AppRec;
}

std::u16string TDHilo::GetCapacidad() const {
  std::lock_guard guard(TextosLock);
  return Capacidad;
}

std::vector<std::pair<std::u16string, DWORD>> TDHilo::Fallidos() const {
  std::lock_guard guard(TextosLock);
  return fallidos_;
}

std::u16string TDHilo::GetVelocidad() const {
  std::lock_guard guard(TextosLock);
  return Velocidad;
}

void TDHilo::Execute() {
  LEC.store(0);
  SetLastError(0);
  while (!Terminated()) {
    Park();
    if (Terminated()) break;
    if (LEC.load() == 0 || EsElOrigen()) {
      DWORD bytes = 0;
      ULONG_PTR key = 0;
      OVERLAPPED* overlapped = nullptr;
      bool ok = GetQueuedCompletionStatus(IOCP, &bytes, &key, &overlapped, Ajustes.TiempoError.load());
      if (ok && key == kClaveDespertar) continue;
      // A given-up transfer that ended late is not the completion awaited now.
      if (CompletionAjena(overlapped)) continue;
      // An operation that failed without a transfer posts its own record with the error.
      if (ok && overlapped != nullptr && IOLast->ORec.Internal != ERROR_SUCCESS) {
        ok = false;
        SetLastError(static_cast<DWORD>(IOLast->ORec.Internal));
      }
      if (ok) {
        const auto terminada = [&] {
          IOLast->OnExeIO();
          DPos.fetch_add(IOLast->BufBytes);
          if (IOLast->BufBytes != 0) LEC.store(0);
        };
        // The next transfer starts before the finished one is handed on, so that the device
        // is never idle; but a placeholder may wait a whole turn, and what finished must not
        // wait with it.
        const TEspera& siguiente = *IONext;
        const bool espera = typeid(siguiente) == typeid(TEspera);
        if (espera) terminada();
        const HANDLE antes = IOFile;
        IONext->ExeIO(IOCP, HRec.SectorSize, HRec.Letra, IOFile);
        if (antes == INVALID_HANDLE_VALUE && IOFile != INVALID_HANDLE_VALUE) NombreAbierto = IONext->DNombre;
        if (!espera) terminada();
      } else {
        const DWORD code = GetLastError();
        // A failure the operation itself reported (not a time-out) may concern its file only.
        const bool deArchivo = !EsElOrigen() && overlapped != nullptr && FalloDeArchivo(code, HRec.Letra);
        if (LEC.load() == 0 && !deArchivo) LEC.store(code);
        // Nothing arrived in time: the transfer may still be the kernel's.
        if (overlapped == nullptr) CancelarTransferencia(IOLast);
        try {
          if (EsElOrigen()) {
            ErrorOrigen();
          } else if (deArchivo) {
            ErrorArchivo(code);
          } else {
            ErrorDestino();
          }
        } catch (...) {
        }
        MessageBeep(MB_ICONASTERISK);
        IOError->FPos = IOLast->FPos;
        IOError->FTalla = IOLast->FTalla;
        IOError->ONombre = IOLast->ONombre;
        IOError->DNombre = IOLast->DNombre;
        IOError->FStr = IOLast->FStr;
        std::lock_guard guard(TextosLock);
        vistaError_ = {IOError->ONombre, IOError->DNombre, IOError->FStr, IOError->FPos, IOError->FTalla};
      }
    }
    // A worker paused while it waited takes no new work when the wait ends: what is queued
    // while it is paused stays in its lists, where it can still be withdrawn.
    Park();
    Continuar();
    PublicarVista();
  }
}

void TDHilo::Continuar() {
  switch (rol_.load(std::memory_order_acquire)) {
    case Rol::Origen:
      ContinuarOrigen();
      break;
    case Rol::Destino:
      ContinuarDestino();
      break;
    case Rol::Ninguno:
      ActualizarCapacidad();
      break;
  }
}

namespace {

// Chosen from measurement (bench/copy_bench.sh): a flush per file made every copy wait for
// a journal commit; these bound the copies that wait for one and the dirty pages they hold.
constexpr std::size_t kSellosPorVolcado = 500;
constexpr std::int64_t kSuciosPorVolcado = 64LL << 20;
constexpr auto kEdadPorVolcado = std::chrono::seconds(2);
// How long a dry queue waits for more work before its copies are flushed.
constexpr std::int32_t kPlazoSeco = 20;

// The file an operation shows: a placeholder keeps showing the last one.
void CopiarArchivoMostrado(const TEspera& from, TEspera& to) {
  to.ONombre = from.ONombre;
  to.DNombre = from.DNombre;
  to.FTalla = from.FTalla;
  to.FStr = from.FStr;
  to.FPos = from.FPos;
}


}  // namespace

void TDHilo::ContinuarDestino() {
  TDHilo* origen = GetOD();
  if (origen == nullptr) {
    ActualizarCapacidad();
    return;
  }
  if (IOLast && LEC.load() == 0) {
    AnotarTerminada(*IOLast);
    if (IOLast->PorSellar) AnotarSello(*IOLast);
    if (const auto* volcado = dynamic_cast<const TVolcarDestino*>(IOLast.get())) AnotarVolcado(volcado->Resultado);
  }
  origen->LiberarIOList.Add(std::move(IOLast));
  origen->BloqueLiberado();
  IOLast = std::move(IONext);
  // A destination in discard mode never waits on its port; it waits for its queue instead,
  // so that an empty queue costs no turns.
  if (LEC.load() != 0 && !Terminated() &&
      IOList.Con([](const std::deque<std::unique_ptr<TEspera>>& list) { return list.empty(); })) {
    IOList.EsperarElemento(std::chrono::milliseconds(200));
  }
  const bool porVolcar = LEC.load() == 0 && !sellos_.empty();
  if (porVolcar && VolcadoDebido()) {
    IONext = Volcado();
  } else {
    // What is left of a file that failed on this drive is dropped unexecuted.
    std::vector<std::unique_ptr<TEspera>> descartadas;
    IOList.Con([&](std::deque<std::unique_ptr<TEspera>>& list) {
      while (!descarte_.empty() && !list.empty() && list.front()->DNombre == descarte_) {
        descartadas.push_back(std::move(list.front()));
        list.pop_front();
      }
      if (!list.empty()) {
        descarte_.clear();
        IONext = std::move(list.front());
        list.pop_front();
      }
    });
    for (auto& op : descartadas) origen->LiberarIOList.Add(std::move(op));
    if (IONext) {
      seco_ = false;
    } else if (porVolcar && seco_) {
      IONext = Volcado();
    } else {
      NuevaEspera();
      if (porVolcar) {
        IONext->Plazo = kPlazoSeco;
        seco_ = true;
      }
    }
  }
  ActualizarCapacidad();
}

// A finished copy waits for its drive's flush; the byte of progress held back since its
// create (AnotarTerminada) comes back only with that flush's results.
void TDHilo::AnotarSello(const TEspera& cierre) {
  if (sellos_.empty()) primerSello_ = std::chrono::steady_clock::now();
  // A copy is read back only against a checksum for each of its blocks.
  const bool sumada = static_cast<std::int64_t>(sumas_.size()) == BloquesDe(cierre.FTalla);
  sellos_.push_back({cierre.DNombre, cierre.FTiempo, cierre.FAtributos, cierre.FTalla,
                     sumada ? std::move(sumas_) : std::vector<std::uint64_t>{}});
  sumas_.clear();
  if (ArchivoPequeno(cierre.FTalla)) sucios_ += cierre.FTalla;
}

bool TDHilo::VolcadoDebido() const {
  return sellos_.size() >= kSellosPorVolcado || sucios_ >= kSuciosPorVolcado ||
         std::chrono::steady_clock::now() - primerSello_ >= kEdadPorVolcado;
}

std::unique_ptr<TEspera> TDHilo::Volcado() {
  auto volcado = std::make_unique<TVolcarDestino>();
  volcado->Sellos = std::move(sellos_);
  sellos_.clear();
  // The byte held back comes back with the flush's results (AnotarVolcado).
  volcado->BufBytes = 0;
  volcado->Verificar = Ajustes.Verificar.load();
  sucios_ = 0;
  seco_ = false;
  if (IOLast) CopiarArchivoMostrado(*IOLast, *volcado);
  return volcado;
}

void TDHilo::NuevaEspera() {
  auto espera = std::make_unique<TEspera>();
  espera->Despertador = &despertador_;
  if (IOLast) CopiarArchivoMostrado(*IOLast, *espera);
  IONext = std::move(espera);
}

void TDHilo::ActualizarCapacidad() {
  std::deque<std::int64_t> cells = DFinList.Extraer();
  if (!cells.empty()) {
    std::int64_t sum = 0;
    for (std::int64_t cell : cells) sum += cell;
    DFin.fetch_add(sum);
    RecalcularCapacidad();
  }
  {
    std::lock_guard guard(TextosLock);
    HRec = AppRec;
    hrecVisible_ = HRec;
  }
  sectorSize_.store(HRec.SectorSize == 0 ? 512 : HRec.SectorSize, std::memory_order_relaxed);
  maxSectorSize_.store(HRec.MaxSectorSize == 0 ? 4096 : HRec.MaxSectorSize, std::memory_order_relaxed);
}

void TDHilo::PublicarVista() {
  std::lock_guard guard(TextosLock);
  vistaUltima_ = {IOLast->ONombre, IOLast->DNombre, IOLast->FStr, IOLast->FPos, IOLast->FTalla};
}

bool TDHilo::CompletionAjena(const OVERLAPPED* overlapped) {
  if (overlapped == nullptr || (IOLast && overlapped == &IOLast->ORec)) return false;
  // The kernel is done with it: the given-up operation and its buffer can go.
  abandonadas_.erase(overlapped);
  return true;
}

bool TDHilo::CancelarTransferencia(std::unique_ptr<TEspera>& op) {
  if (!op || IOFile == INVALID_HANDLE_VALUE) return true;
  if (!CancelIoEx(IOFile, &op->ORec)) return true;  // Nothing of it in flight.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ajustes.TiempoDrenaje.load());
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const bool ok = GetQueuedCompletionStatus(IOCP, &bytes, &key, &overlapped, static_cast<DWORD>(left.count()));
    if (overlapped == &op->ORec) return true;
    if (overlapped != nullptr) abandonadas_.erase(overlapped);
    if (!ok && overlapped == nullptr && GetLastError() == WAIT_TIMEOUT) break;
  }
  // Still the kernel's: keep it (and its buffer) alive and go on with a stand-in for the
  // same file and the same destinations, which the error paths can use and release.
  std::vector<TDHilo*> destinos;
  op->LlenarDList(destinos);
  std::unique_ptr<TEspera> standIn;
  if (destinos.empty()) {
    standIn = std::make_unique<TEspera>();
  } else {
    auto origen = std::make_unique<TAbrirCarpeta>();
    for (TDHilo* DH : destinos) origen->DList.Add(DH);
    standIn = std::move(origen);
  }
  CopiarArchivoMostrado(*op, *standIn);
  standIn->FAtributos = op->FAtributos;
  standIn->FTiempo = op->FTiempo;
  const OVERLAPPED* record = &op->ORec;
  abandonadas_[record] = std::move(op);
  op = std::move(standIn);
  return false;
}

void TDHilo::DoTerminate() {
  try {
    Destruir();
  } catch (...) {
  }
  Soltar();
}

void TDHilo::Destruir() {
  if (EsElOrigen()) EliminarDestinos();
  CancelarTransferencia(IOLast);
  if (IOFile != INVALID_HANDLE_VALUE) {
    const bool destino = !EsElOrigen();
    CerrarIOFile(IOFile);
    // A file left open for writing is incomplete; it must not stay behind looking whole.
    if (destino && !NombreAbierto.empty()) DeleteFileW(Camino(HRec.Letra, NombreAbierto));
  }
  // Finished copies still waiting for a flush get it now, with their stamps.
  if (!EsElOrigen()) {
    if (auto* volcado = dynamic_cast<TVolcarDestino*>(IONext.get())) {
      sellos_.insert(sellos_.begin(), volcado->Sellos.begin(), volcado->Sellos.end());
    }
    if (!sellos_.empty()) AnotarVolcado(VolcarYSellar(HRec.Letra, sellos_, Ajustes.Verificar.load()));
    sellos_.clear();
  }
  IOLast.reset();
  IONext.reset();
  IOError.reset();
  LiberarIOList.Extraer();
  IOList.Extraer();
  CloseHandle(IOCP);
  {
    std::lock_guard guard(abandonadasLock);
    for (auto& [record, op] : abandonadas_) huerfanas->push_back(std::move(op));
  }
  abandonadas_.clear();
  FList.Extraer();
  DFinList.Extraer();
  TDHilo* origen = GetOD();
  if (origen != nullptr && origen != this) origen->Soltar();
}

TListaPorID OrdenarPorID(const std::vector<TDHilo*>& workers) {
  TListaPorID lista;
  lista.reserve(workers.size());
  for (TDHilo* DH : workers) lista.emplace_back(DH->Identidad().ID, DH);
  std::stable_sort(lista.begin(), lista.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return lista;
}

std::ptrdiff_t BuscarIndicePorID(const TListaPorID& lista, std::uint32_t ID) {
  return BuscarPrimero(lista, [&](const std::pair<std::uint32_t, TDHilo*>& entry) {
    return entry.first < ID ? -1 : entry.first > ID ? 1 : 0;
  });
}

TDHilo* BuscarPorID(const TListaPorID& lista, std::uint32_t ID) {
  const std::ptrdiff_t at = BuscarIndicePorID(lista, ID);
  return at < 0 ? nullptr : lista[static_cast<std::size_t>(at)].second;
}
