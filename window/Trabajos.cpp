// Listings of drives and saved jobs: the two toolbar commands that keep work across runs.

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QTimer>

#include <algorithm>

#include "engine/Flujos.h"
#include "engine/Progreso.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "window/FormDList.h"
#include "window/LienzoQt.h"
#include "window/Pausa.h"

using namespace win32;

void TFormDList::ToolButtonListarClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  HabilitarBarra(false);
  operacionEnCurso_ = true;
  try {
    const std::vector<TDHilo*> workers = DList;  // The list does not change while the toolbar is off.
    for (std::size_t i = 0; i < workers.size(); ++i) {
      QListWidgetItem* item = DListBox->item(static_cast<int>(i));
      if (item != nullptr && item->isSelected()) CrearListado(workers[i]);
    }
  } catch (...) {
  }
  QApplication::restoreOverrideCursor();
  HabilitarBarra(true);
  TerminarOperacion();
}

void TFormDList::CrearListado(TDHilo* W) {
  TPausa pausa(W);
  try {
    const THRec rec = W->Identidad();
    const std::u16string raiz = std::u16string(1, rec.Letra) + u":\\";
    TListaRegistros escaneo;
    RecorrerCarpeta(escaneo, raiz, 3);
    ProgresoTexto = u"Leyendo listado en " + rec.Nombre;
    TListaRegistros guardado = LeerListado(W);
    if (guardado.empty()) {
      OrdenarPorNombre(escaneo);
      GuardarListado(W, escaneo);
    } else {
      // Names listed before keep their stored record; new names join at the end.
      const std::vector<TFRec*> leidos = Punteros(guardado);
      for (std::size_t i = escaneo.size(); i-- > 0;) {
        if (BuscarFR(leidos, escaneo[i]->ONombre) == nullptr) guardado.push_back(std::move(escaneo[i]));
      }
      OrdenarPorNombre(guardado);
      GuardarListado(W, guardado);
    }
  } catch (...) {
  }
  ProgresoTexto.clear();
  ProgresoValor = 0;
}

void TFormDList::ToolButtonAbrirGuardarClick() {
  if (ToolButtonAbrirGuardar->ImageIndex() == 3) {
    GuardarLista();
  } else {
    AbrirLista();
  }
}

// The operation begins with the dialog: a close while it is open waits for it to end.
void TFormDList::AbrirLista() {
  if (OCopia != nullptr) return;
  operacionEnCurso_ = true;
  const std::optional<QString> elegido = ElegirArchivo(false);
  if (!elegido || cierrePendiente_) {
    TerminarOperacion();
    return;
  }
  ProgresoTexto = u"Creando lista";
  HabilitarBarra(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    TFileStream file(NameFromNative(Nativo(*elegido)), TFileStream::Modo::Leer);
    const TListaPorID porID = ListaPorID();
    TDHilo* origen = BuscarPorID(porID, file.LeerNatural());
    if (origen == nullptr) {
      MostrarOrigenNoValido();
    } else {
      AsignarOrigen(origen);
      const std::int32_t count = file.LeerEntero();
      for (std::int32_t i = 0; i < count; ++i) {
        OCopia->LeerFR(file, porID);
        RefrescarProgreso([&] { ProgresoValor = ValorProgreso(i, count); });
      }
      for (TDHilo* worker : DList) worker->GetEspacioLibre();
      DListBox->viewport()->update();
      QCoreApplication::processEvents();
    }
  } catch (...) {
    // A damaged or unreadable job: what was read before stays queued.
    for (TDHilo* worker : DList) worker->GetEspacioLibre();
  }
  ProgresoValor = 0;
  ProgresoTexto.clear();
  HabilitarBarra(true);
  QApplication::restoreOverrideCursor();
  ToolButtonContinuarDetener->setEnabled(true);
  ToolButtonPriorizar->setEnabled(true);
  TerminarOperacion();
}

// The operation begins with the dialog: a close while it is open must not free the origin
// the save then writes from.
void TFormDList::GuardarLista() {
  if (OCopia == nullptr) return;
  operacionEnCurso_ = true;
  if (archivoTrabajo_.isEmpty()) {
    const std::optional<QString> elegido = ElegirArchivo(true);
    if (!elegido || cierrePendiente_) {
      TerminarOperacion();
      return;
    }
    archivoTrabajo_ = *elegido;
  }
  HabilitarBarra(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    TFileStream file(NameFromNative(Nativo(archivoTrabajo_)), TFileStream::Modo::Crear);
    ProgresoTexto = u"Guardando lista";
    file.EscribirNatural(OCopia->Identidad().ID);
    std::deque<std::unique_ptr<TFRec>>& cola = OCopia->LockFList();
    try {
      const std::size_t count = cola.size();
      file.EscribirEntero(static_cast<std::int32_t>(count));
      for (std::size_t i = 0; i < count; ++i) {
        // No window messages while the origin's list is locked: the gauge repaints at once.
        const TDateTime now = Now();
        if (static_cast<std::int64_t>((now - LDT) * 86400000.0) > TimerV->interval()) {
          ProgresoValor = ValorProgreso(static_cast<std::int64_t>(i), static_cast<std::int64_t>(count));
          LDT = now;
          PBMemoria->repaint();
        }
        cola[i]->EscribirTodo(file);
      }
    } catch (...) {
    }
    OCopia->UnLockFList();
    file.Cerrar();
  } catch (...) {
  }
  ProgresoValor = 0;
  ProgresoTexto.clear();
  HabilitarBarra(true);
  QApplication::restoreOverrideCursor();
  TerminarOperacion();
}

std::optional<QString> TFormDList::ElegirArchivoConDialogo(bool guardar) {
  QFileDialog dialog(this);
  // Jobs are kept beside the settings unless the user goes elsewhere.
  dialog.setDirectory(QString::fromStdString(CarpetaDeAjustes()));
  dialog.setNameFilter(QStringLiteral("Vertilo (*.vrtl)"));
  dialog.setDefaultSuffix(QStringLiteral("vrtl"));
  if (guardar) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}
