// Failures of the worker's wait, and the withdrawal of destinations.

#include <algorithm>
#include <typeinfo>

#include "engine/DHilo.h"
#include "engine/OperacionesDestino.h"
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

// Codes that say the drive refused this file, not that the drive failed: a name it cannot
// hold (characters, length; exfat-fuse answers a refused name as a missing file), a size it
// cannot hold, a folder it cannot make. A missing path is the drive's own failure when its
// root is gone.
bool TDHilo::FalloDeArchivo(DWORD code, char16_t letra) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_FILE_TOO_LARGE:
    case ERROR_DIRECTORY:
    case ERROR_PATH_NOT_FOUND:
      break;
    default:
      return false;
  }
  const std::u16string root{letra, u':', u'\\'};
  return GetFileAttributesW(root) != INVALID_FILE_ATTRIBUTES;
}

// The file leaves this drive's totals (what it wrote and what it was to write), its partial
// copy is deleted, and the operation chosen after the failed one (not started) goes back to
// the queue unless it belongs to the failed file; a placeholder's completion stands in for it.
void TDHilo::ErrorArchivo(DWORD code) {
  const bool abierto = IOFile != INVALID_HANDLE_VALUE;
  CerrarIOFile(IOFile);
  if (abierto && !NombreAbierto.empty()) DeleteFileW(Camino(HRec.Letra, NombreAbierto));
  const bool cerrado = dynamic_cast<TCerrarArchivoCreado*>(IOLast.get()) != nullptr;
  DPos.fetch_sub(cerrado ? DTalla(IOLast->FTalla) : IOLast->FPos);
  AddDFin(-DTalla(IOLast->FTalla));
  descarte_ = IOLast->DNombre;
  IOLast->Fallida = true;
  if (sellos_.empty()) DevolverRetenido();
  errorArchivo_.store(code);
  {
    std::lock_guard guard(TextosLock);
    fallidos_.emplace_back(IOLast->DNombre, code);
  }
  const TEspera* siguiente = IONext.get();
  if (siguiente != nullptr && typeid(*siguiente) != typeid(TEspera)) {
    if (IONext->DNombre == descarte_) {
      if (TDHilo* origen = GetOD()) origen->LiberarIOList.Add(std::move(IONext));
    } else {
      IOList.Con([&](std::deque<std::unique_ptr<TEspera>>& list) { list.push_front(std::move(IONext)); });
    }
  }
  IONext.reset();
  NuevaEspera();
  PostQueuedCompletionStatus(IOCP, 0, 0, nullptr);
}

// Only a file this copy had open is deleted: a failed create leaves an older copy alone.
void TDHilo::ErrorDestino() {
  const bool abierto = IOFile != INVALID_HANDLE_VALUE;
  CerrarIOFile(IOFile);
  if (abierto && !NombreAbierto.empty()) DeleteFileW(Camino(HRec.Letra, NombreAbierto));
  if (TDHilo* origen = GetOD()) origen->EliminarFiles(this);
}
