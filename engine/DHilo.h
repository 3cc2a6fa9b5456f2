#pragma once

// A drive's worker: a thread with its own completion port that executes the drive's
// operations one after another, with exactly one in flight. At most one worker is the
// origin; the others are its destinations.
//
// Lock order, when two are held at once: the origin's EliminarDestinosList, the origin's
// IOList, the origin's FList, a source operation's DList, a destination's IOList; DFinList
// last, with nothing taken under it. LiberarIOList is taken alone. TextosLock is a leaf and
// guards only copies of texts and identities. Nothing blocks while holding a list lock.
//
// Lifetime. A worker ends its loop when asked to terminate and then releases everything on
// its own thread. Its memory goes when the last reference goes: its own thread holds one,
// and every destination holds one on its origin, so that a destination finishing its last
// turn never touches an origin that is already gone.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/Ajustes.h"
#include "engine/Cuentas.h"
#include "engine/Espera.h"
#include "engine/FRec.h"
#include "engine/Listas.h"
#include "engine/OperacionesDestino.h"
#include "engine/Tipos.h"
#include "platform/thread.h"

class TLienzo;
struct TRect;

// What the row and the status page show of an operation, copied when the worker takes it up.
struct TVistaOperacion {
  std::u16string ONombre, DNombre, FStr;
  std::int64_t FPos = 0, FTalla = 0;
};

class TDHilo : public win32::TThread {
 public:
  // Builds an idle worker and starts its thread.
  explicit TDHilo(TAjustes& Ajustes);

  // Roles, set once by the window.
  void EsOrigen();
  void EsDestino();
  void AsignarOD(TDHilo* origen);
  TDHilo* GetOD() const { return OD.load(std::memory_order_acquire); }
  bool EsElOrigen() const { return GetOD() == this; }

  // Wakes a worker that waits on its port or its queue, so that it ends promptly.
  void Terminate() override;
  // A destination released an operation to this origin: wakes it if it waits for memory
  // (only the origin frees the buffers; an origin with other work is not disturbed).
  void BloqueLiberado() {
    if (esperaMemoria_.load()) despertador_.Despertar();
  }

  std::int64_t DTalla(std::int64_t Talla) const { return Redondear(Talla, SectorSizeActual()); }
  std::int64_t DMaxTalla(std::int64_t Talla) const { return Redondear(Talla, MaxSectorSizeActual()); }
  std::uint32_t SectorSizeActual() const { return sectorSize_.load(std::memory_order_relaxed); }
  std::uint32_t MaxSectorSizeActual() const { return maxSectorSize_.load(std::memory_order_relaxed); }
  // Any thread: the adjustment is applied by the worker in its capacity step.
  void AddDFin(std::int64_t I64);
  // Sum of Cache over the queue: buffered bytes waiting at this worker.
  std::int64_t GetCache();

  // Origin: its file list and the window's and destinations' operations on it.
  std::deque<std::unique_ptr<TFRec>>& LockFList() { return FList.Bloquear(); }
  void UnLockFList() { FList.Desbloquear(); }
  void EliminarFiles(TDHilo* DH);
  void PriorizarDestino(TDHilo* DH);
  void LeerFR(TStream& FS, const TListaPorID& IDL);

  // Progress (window and web threads).
  void GetEspacioLibre();
  void OnTime();
  void Pintar(TLienzo& Canvas, const TRect& RD);
  std::u16string GetWebStr();

  // Identity as the worker uses it (HRec), and as the window last wrote it (AppRec).
  THRec Identidad() const;
  void SetAppRec(const THRec& rec);
  THRec GetAppRec() const;
  std::u16string GetCapacidad() const;
  std::u16string GetVelocidad() const;

  // Files this destination could not hold (its name, and the reason), oldest first.
  std::vector<std::pair<std::u16string, win32::DWORD>> Fallidos() const;
  std::uint32_t GetErrorArchivo() const { return errorArchivo_.load(); }
  // What this destination did in the run (a copy), and the window's count of the files it
  // skipped for it: the same file already on the drive, or named by the drive's listing.
  TCuentas Cuentas() const;
  void ContarOmitido(bool porListado);
  // The row's and status line's word on a drive with kMalVerificadosDefectuosa copies or
  // more that did not read back as written; empty below that count.
  std::u16string AvisoDefectuosa() const;

  std::int64_t GetDPos() const { return DPos.load(); }
  std::int64_t GetDFin() const { return DFin.load(); }
  std::uint32_t GetLEC() const { return LEC.load(); }
  std::int64_t GetEspacio() const { return EspacioLibre.load(); }

  // The five lists.
  TListaSegura<std::unique_ptr<TFRec>> FList;
  TListaSegura<std::int64_t> DFinList;
  TListaSegura<std::unique_ptr<TEspera>> IOList;
  TListaSegura<std::unique_ptr<TEspera>> LiberarIOList;
  TListaSegura<TDHilo*> EliminarDestinosList;

  // Workers alive now (built and not yet freed), for tests and benchmarks.
  static std::int64_t Vivos();

  // Window-thread fields.
  std::uint8_t Orden = 0;
  bool Seleccionado = false;

 protected:
  void Execute() override;
  void DoTerminate() override;

 private:
  enum class Rol { Ninguno, Origen, Destino };
  ~TDHilo() override;
  void Retener();
  void Soltar();

  void Continuar();
  void ContinuarDestino();
  void ContinuarOrigen();
  void ActualizarCapacidad();
  void NuevaEspera();
  // Destination: a finished copy waits for the next flush, which comes when the queue stays
  // dry for a moment, or after enough copies, bytes or time.
  void AnotarSello(const TEspera& cierre);
  // Destination, for the report and the read-back: a finished operation's checksum, an
  // empty copy, a flush's stamped and bad copies, the first work.
  void AnotarTerminada(const TEspera& op);
  void AnotarVolcado(const TResultadoVolcado& resultado);
  bool VolcadoDebido() const;
  std::unique_ptr<TEspera> Volcado();
  void PrepararSiguiente(std::deque<std::unique_ptr<TEspera>>& iol);
  std::unique_ptr<TFRec> TomarRegistro(std::deque<std::unique_ptr<TFRec>>& fl, std::int64_t T);
  bool Actualizar(TFRec& R);
  void EliminarDestinos();
  void ErrorOrigen();
  void ErrorDestino();
  // A destination's failure that concerns one file only (a name or size its file system
  // cannot hold): that file leaves this drive, which goes on with the rest.
  static bool FalloDeArchivo(win32::DWORD code, char16_t letra);
  void ErrorArchivo(win32::DWORD code);
  void ReponerFR();
  void Destruir();
  // Cancels the transfer an operation started and dequeues its completion, so that the
  // operation can be released; false when it did not arrive in time (the operation is then
  // given up: kept alive until its completion comes, and `op` becomes a stand-in).
  bool CancelarTransferencia(std::unique_ptr<TEspera>& op);
  // A completion that is not the awaited operation's: a given-up transfer that finally
  // ended (its operation can go now). True when the completion was such a one.
  bool CompletionAjena(const win32::OVERLAPPED* overlapped);
  void RecalcularCapacidad();
  void PublicarVista();

  TAjustes& Ajustes;
  // Raised by whoever adds to the lists this worker takes from, and by Terminate; waited on
  // by its placeholders.
  TDespertador despertador_;
  std::atomic<int> referencias_{1};  // This thread's own, plus one per destination bound to it.
  // Origin: its last read could not have a buffer yet. Written by the origin, read by its
  // destinations.
  std::atomic<bool> esperaMemoria_{false};
  std::atomic<Rol> rol_{Rol::Ninguno};

  // Worker thread only.
  THRec HRec;
  std::unique_ptr<TEspera> IOLast, IONext, IOError;
  win32::HANDLE IOCP = 0;
  win32::HANDLE IOFile = win32::INVALID_HANDLE_VALUE;
  std::u16string NombreAbierto;  // DNombre of the file a destination has open in IOFile.
  // Finished copies not yet flushed, the bytes of theirs still in the page cache, when the
  // oldest was finished, and whether the last placeholder was a short one for a dry queue.
  std::vector<TSello> sellos_;
  std::u16string descarte_;  // DNombre of a failed file whose remaining operations are dropped.
  std::vector<std::uint64_t> sumas_;  // The checksums of the blocks of the copy being written.
  bool empezado_ = false;             // The run's first work was noted (cuentas_.Inicio).
  // One byte of DPos is held back from a file's create until the flush that covers its copy
  // (or until the file fails), so that the drive never shows 100 % between a copy's last
  // write and its flush, read-back and counts.
  bool retenido_ = false;
  void DevolverRetenido();
  std::int64_t sucios_ = 0;
  std::chrono::steady_clock::time_point primerSello_{};
  bool seco_ = false;
  // Given-up operations by their overlapped record: the kernel may still write into their
  // buffers, so they live until their completion arrives on this worker's port.
  std::unordered_map<const win32::OVERLAPPED*, std::unique_ptr<TEspera>> abandonadas_;

  // Written by the worker, read by others.
  std::atomic<std::int64_t> DPos{0};
  std::atomic<std::int64_t> DFin{0};
  std::atomic<std::uint32_t> LEC{0};
  std::atomic<std::uint32_t> errorArchivo_{0};  // The last file-level failure; the drive went on.
  std::atomic<std::uint32_t> sectorSize_{512};
  std::atomic<std::uint32_t> maxSectorSize_{512};
  std::atomic<TDHilo*> OD{nullptr};
  // Written by the window thread (GetEspacioLibre), read by the worker.
  std::atomic<std::int64_t> EspacioLibre{0};

  // Window thread only: the speed ring and the colour this worker paints with.
  TVRec anillo_[11];
  TVRec* VRec = nullptr;
  std::atomic<std::uint32_t>* PaintBoxColor = nullptr;

  mutable std::mutex TextosLock;  // Guards the fields below.
  std::u16string Velocidad;
  std::u16string Capacidad;
  THRec AppRec;
  THRec hrecVisible_;
  TVistaOperacion vistaUltima_, vistaError_;
  std::vector<std::pair<std::u16string, win32::DWORD>> fallidos_;
  TCuentas cuentas_;  // Its Fallidos stay empty: fallidos_ holds them.
};

TListaPorID OrdenarPorID(const std::vector<TDHilo*>& workers);
// Binary search; the index of the frontmost entry with that ID, or -1.
std::ptrdiff_t BuscarIndicePorID(const TListaPorID& lista, std::uint32_t ID);
TDHilo* BuscarPorID(const TListaPorID& lista, std::uint32_t ID);
