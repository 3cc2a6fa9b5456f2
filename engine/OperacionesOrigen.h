#pragma once

// What the origin worker does for one item: open, read in shared blocks and close, and for
// every completed step the matching operation queued to every destination still attached.

#include <mutex>
#include <vector>

#include "engine/Espera.h"

// The destinations still to receive an item. Adding a worker that is already in the list
// has no effect.
class TListaHilos {
 public:
  void Add(TDHilo* DH);
  // Deletes the last entry equal to DH; true when there was one.
  bool Borrar(TDHilo* DH);
  std::vector<TDHilo*> Copia() const;
  // Runs f with the entries under the lock.
  template <class F>
  void Con(F&& f) const {
    std::lock_guard guard(lock_);
    f(items_);
  }

 private:
  mutable std::mutex lock_;  // Guards items_. Taken after the origin's FList lock and before any destination's IOList lock.
  std::vector<TDHilo*> items_;
};

class TAbrirCarpeta : public TEspera {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
  void OnExeIO() override;
  void OnReadError() override;
  bool BorrarDestino(TDHilo* DH) override;
  void LlenarDList(std::vector<TDHilo*>& DL) override;

  TListaHilos DList;

 protected:
  // Creates the destination operation of this step and hands it to every destination.
  template <class Destino, class Llenar>
  void Repartir(Llenar&& llenar);
};

class TAbrirArchivoVacio : public TAbrirCarpeta {
 public:
  void OnExeIO() override;
};

class TAbrirArchivo : public TAbrirCarpeta {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
  void OnExeIO() override;
};

// A file whose source could not be looked at when it was scheduled: no read can be built
// for a size nobody confirmed. It starts nothing, so the origin's wait times out and its
// error path puts the file back, as for a source that cannot be opened.
class TArchivoAusente : public TAbrirArchivo {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
};

class TLeerArchivo : public TAbrirArchivo {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
  void OnExeIO() override;
  // Allocates the block buffer only while more than MemoriaLibre bytes of memory are free.
  bool CrearBuf(std::int64_t MemoriaLibre) override;
};

class TCerrarArchivo : public TAbrirArchivo {
 public:
  void ExeIO(win32::HANDLE CP, std::uint32_t SectorSize, char16_t Letra, win32::HANDLE& IOFile) override;
  void OnExeIO() override;

  // A small file's pages are dropped at its close unless it is to be read again.
  bool ConservarCache = false;
};
