// Drive discovery: one worker per usable drive, recognised by its volume serial number
// across refreshes; the roles of origin and destinations.

#include <algorithm>

#include "engine/Busqueda.h"
#include "platform/drives.h"
#include "platform/strings.h"
#include "window/FormDList.h"
#include "window/LienzoQt.h"

using namespace win32;

namespace {

int CompararOrden(const TDHilo* a, const TDHilo* b) { return static_cast<int>(a->Orden) - static_cast<int>(b->Orden); }

// The letter as a 16-bit code unit, against the one sought.
int CompararLetra(const TDHilo* DH, char16_t Letra) {
  const char16_t letra = DH->Identidad().Letra;
  return letra < Letra ? -1 : letra > Letra ? 1 : 0;
}

const char16_t* NombrePorTipo(DWORD tipo) {
  switch (tipo) {
    case DRIVE_REMOVABLE: return u"Disco extraible";
    case DRIVE_FIXED: return u"Disco local";
    default: return u"Disco remoto";
  }
}

}  // namespace

// The serials are copied before the sort: a new worker adopts its serial on its own thread,
// and a sort whose order changes under it is undefined.
TListaPorID TFormDList::ListaPorID() const { return OrdenarPorID(DList); }

// The worker a drive found in this pass stands for: one with its serial that no other drive
// of the pass took, and of those the one that had its letter. So two drives with one serial
// (sticks cloned from one image) keep a worker each, told apart by their letters, which a
// mount keeps for as long as it stays mounted.
TDHilo* TFormDList::BuscarTrabajador(const TListaPorID& porID, std::uint32_t serial, char16_t letra,
                                     const std::vector<TDHilo*>& tomados) const {
  TDHilo* found = nullptr;
  for (std::ptrdiff_t at = BuscarIndicePorID(porID, serial);
       at >= 0 && static_cast<std::size_t>(at) < porID.size() && porID[static_cast<std::size_t>(at)].first == serial; ++at) {
    TDHilo* worker = porID[static_cast<std::size_t>(at)].second;
    if (std::find(tomados.begin(), tomados.end(), worker) != tomados.end()) continue;
    if (found == nullptr) found = worker;
    if (worker->GetAppRec().Letra == letra) return worker;
  }
  return found;
}

// Binary search by letter over a list sorted by Orden; the frontmost match wins.
TDHilo* TFormDList::BuscarPorLetra(const std::vector<TDHilo*>& lista, char16_t Letra) const {
  const std::ptrdiff_t at = BuscarPrimero(lista, [&](TDHilo* DH) { return CompararLetra(DH, Letra); });
  return at < 0 ? nullptr : lista[static_cast<std::size_t>(at)];
}

// A stick plugged in or pulled out gets or loses its row without a click. A burst of changes
// (a stick with several partitions) is taken in one refresh.
void TFormDList::VigilarMontajes() {
  const std::uint64_t actual = MountTableGeneration();
  const bool asentada = actual == montajesPendientes_;
  montajesPendientes_ = actual;
  if (actual == 0 || actual == montajesVistos_ || !asentada) return;
  if (operacionEnCurso_ || !ToolButtonActualizar->isEnabled()) return;
  ToolButtonActualizarClick();
}

void TFormDList::ToolButtonActualizarClick() {
  montajesVistos_ = MountTableGeneration();
  ToolButtonActualizar->setEnabled(false);
  try {
    const int focused = DListBox->currentRow();
    const bool hayFoco = focused >= 0 && focused < static_cast<int>(DList.size());
    const std::uint32_t enfocado = hayFoco ? DList[static_cast<std::size_t>(focused)]->Identidad().ID : 0;
    const char16_t letraEnfocada = hayFoco ? DList[static_cast<std::size_t>(focused)]->Identidad().Letra : 0;
    for (std::size_t i = 0; i < DList.size(); ++i) {
      DList[i]->Orden = 0;
      QListWidgetItem* item = DListBox->item(static_cast<int>(i));
      DList[i]->Seleccionado = item != nullptr && item->isSelected();
    }
    DListBox->clear();

    std::uint32_t maxSector = 4096;
    std::u16string nombres[32];
    std::uint32_t serials[32] = {};
    std::uint32_t sectores[32] = {};
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 32; ++i) {
      if ((mask & (1u << i)) == 0) continue;
      const std::u16string root{static_cast<char16_t>(u'A' + i), u':', u'\\'};
      const DWORD tipo = GetDriveTypeW(root);
      if (tipo != DRIVE_REMOVABLE && tipo != DRIVE_FIXED && tipo != DRIVE_REMOTE) continue;
      std::u16string label;
      DWORD serial = 0;
      if (!GetVolumeInformationW(root, &label, &serial)) continue;
      serials[i] = serial;
      nombres[i] = label.empty() ? NombrePorTipo(GetDriveTypeW(root)) : label;
      DWORD perCluster = 0, perSector = 0, free = 0, total = 0;
      if (GetDiskFreeSpaceW(root, &perCluster, &perSector, &free, &total)) {
        sectores[i] = perSector;
        if (perSector > maxSector) maxSector = perSector;
      }
    }

    const TListaPorID porID = ListaPorID();
    std::vector<TDHilo*> tomados;
    for (int i = 0; i < 32; ++i) {
      if (serials[i] == 0) continue;
      TDHilo* worker = BuscarTrabajador(porID, serials[i], static_cast<char16_t>(u'A' + i), tomados);
      if (worker == nullptr) {
        worker = new TDHilo(*ajustes_);
        if (OCopia != nullptr) {
          worker->AsignarOD(OCopia);
          worker->EsDestino();
        }
        DList.push_back(worker);
      }
      tomados.push_back(worker);
      worker->Orden = static_cast<std::uint8_t>(65 + i);
      THRec rec;
      rec.ID = serials[i];
      rec.Nombre = nombres[i];
      rec.Letra = static_cast<char16_t>(u'A' + i);
      // A drive whose geometry is unknown is taken to have the worker's first sector size.
      rec.SectorSize = sectores[i] != 0 ? sectores[i] : 512;
      rec.MaxSectorSize = maxSector;
      worker->SetAppRec(rec);
      worker->GetEspacioLibre();
    }

    for (std::size_t i = DList.size(); i-- > 0;) {
      TDHilo* worker = DList[i];
      if (worker->Orden != 0 || worker == OCopia) continue;
      DList.erase(DList.begin() + static_cast<std::ptrdiff_t>(i));
      if (OCopia != nullptr) {
        AnotarRetirada(worker);
        // Withdrawn from the waiting records before the origin ends it.
        OCopia->EliminarFiles(worker);
        OCopia->EliminarDestinosList.Add(worker);
      } else {
        worker->Terminate();
      }
    }

    std::stable_sort(DList.begin(), DList.end(), [](TDHilo* a, TDHilo* b) { return CompararOrden(a, b) < 0; });
    for (TDHilo* worker : DList) {
      auto* item = new QListWidgetItem(QStringLiteral(" "));
      const auto root = DriveRoot(worker->GetAppRec().Letra);
      if (root) item->setToolTip(QString::fromStdString(*root));
      DListBox->addItem(item);
    }
    SeleccionarDispositivo(enfocado, letraEnfocada);
    for (std::size_t i = 0; i < DList.size(); ++i) DListBox->item(static_cast<int>(i))->setSelected(DList[i]->Seleccionado);
    DListBox->viewport()->update();
  } catch (...) {
  }
  ToolButtonActualizar->setEnabled(true);
  ToolButtonCancelar->setEnabled(!DList.empty());
}

// Of several drives with the serial, the one with the letter, else the frontmost.
void TFormDList::SeleccionarDispositivo(std::uint32_t ID, char16_t Letra) {
  const int last = static_cast<int>(DList.size()) - 1;
  DListBox->setCurrentRow(last, QItemSelectionModel::NoUpdate);
  TDHilo* worker = BuscarTrabajador(ListaPorID(), ID, Letra, {});
  if (worker == nullptr) return;
  const char16_t letra = worker->Identidad().Letra;
  const std::ptrdiff_t at = BuscarPrimero(DList, [&](TDHilo* DH) { return CompararLetra(DH, letra); });
  if (at >= 0) DListBox->setCurrentRow(static_cast<int>(at), QItemSelectionModel::NoUpdate);
}

void TFormDList::AsignarOrigen(TDHilo* origen) {
  OCopia = origen;
  origen->EsOrigen();
  inicioRun_ = std::time(nullptr);
  fechaRun_ = Now();
  setWindowTitle(Texto(TituloOrigen()));
  for (TDHilo* worker : DList) {
    if (worker == origen) continue;
    worker->AsignarOD(OCopia);
    worker->EsDestino();
  }
  ToolButtonAbrirGuardar->SetImageIndex(3);
  ToolButtonAbrirGuardar->SetHint(QStringLiteral("Guardar"));
}
