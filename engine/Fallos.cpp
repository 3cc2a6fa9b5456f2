// Failures of the worker's wait, and the withdrawal of destinations.

#include <algorithm>

#include "engine/DHilo.h"
#include "platform/files.h"
#include "platform/ports.h"

using namespace win32;

// After no operation of the origin names a withdrawn destination any more, it is asked to
// end; so nothing can be queued to a worker that is ending.
void TDHilo::EliminarDestinos() {
  try {
    EliminarDestinosList.Con([&](std::deque<TDHilo*>& list) {
      std::vector<TDHilo*> ended;
      for (TDHilo* DH : list) {
        if (std::find(ended.begin(), ended.end(), DH) != ended.end()) continue;
        if (IOLast) IOLast->BorrarDestino(DH);
        if (IONext) IONext->BorrarDestino(DH);
        IOList.Con([&](std::deque<std::unique_ptr<TEspera>>& iol) {
          for (auto& op : iol) op->BorrarDestino(DH);
        });
        // A record put back by the error path after the window withdrew DH still names it.
        EliminarFiles(DH);
        DH->Terminate();
        ended.push_back(DH);
      }
      list.clear();
    });
  } catch (...) {
  }
}

void TDHilo::ErrorOrigen() {
  try {
    LiberarIOList.Add(std::move(IONext));
    for (auto& op : IOList.Extraer()) LiberarIOList.Add(std::move(op));
    DPos.fetch_sub(IOLast->FPos);
    IOLast->OnReadError();
    ReponerFR();
    // The retry opens the file anew.
    CerrarIOFile(IOFile);
    NuevaEspera();
  } catch (...) {
    if (!IONext) NuevaEspera();
  }
  // Stands in for the placeholder that the continue routine makes the awaited operation.
  PostQueuedCompletionStatus(IOCP, 0, 0, nullptr);
}

void TDHilo::ReponerFR() {
  auto R = std::make_unique<TFRec>();
  IOLast->LlenarDList(R->DList);
  if (R->DList.empty()) return;
  R->ONombre = IOLast->ONombre;
  R->DNombre = IOLast->DNombre;
  R->Talla = IOLast->FTalla;
  R->Atributos = IOLast->FAtributos;
  R->Tiempo = IOLast->FTiempo;
  FList.Add(std::move(R));
}

// Only a file this copy had open is deleted: a failed create leaves an older copy alone.
void TDHilo::ErrorDestino() {
  const bool abierto = IOFile != INVALID_HANDLE_VALUE;
  CerrarIOFile(IOFile);
  if (abierto && !NombreAbierto.empty()) DeleteFileW(Camino(HRec.Letra, NombreAbierto));
  if (TDHilo* origen = GetOD()) origen->EliminarFiles(this);
}
