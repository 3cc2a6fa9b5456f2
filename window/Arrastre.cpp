// Drops of files and folders onto the drive list: the frame shared by both modes and the
// add mode. The drive the items come from becomes the origin; the selected rows are the
// destinations.

#include <QApplication>

#include "engine/Progreso.h"
#include "platform/files.h"
#include "window/FormDList.h"
#include "window/LienzoQt.h"
#include "window/Pausa.h"

using namespace win32;

// Items of one drop may come from several drives (a file manager's search results); only
// those on the origin's drive are the origin's to read. The others are left out and counted
// in the message.
void TFormDList::WMDropFiles(const std::vector<std::u16string>& caminos) {
  if (destruida_ || !ToolBarHerramientas->isEnabled() || caminos.empty()) return;
  const char16_t letra = caminos[0].empty() ? 0 : caminos[0][0];
  TDHilo* worker = BuscarPorLetra(DList, letra);
  if (worker != nullptr && OCopia == nullptr) AsignarOrigen(worker);
  if (OCopia != nullptr && worker == OCopia) {
    std::vector<std::u16string> propios;
    for (const std::u16string& camino : caminos) {
      if (!camino.empty() && camino[0] == letra) propios.push_back(camino);
    }
    DListBoxDropFiles(propios);
    ToolButtonSumarRestar->SetImageIndex(7);
    ToolButtonSumarRestar->SetHint(QStringLiteral("Al arrastrar agregar."));
    if (propios.size() < caminos.size() && !destruida_) MostrarOrigenNoValido(caminos.size() - propios.size(), caminos.size());
  } else {
    MostrarOrigenNoValido();
  }
}

TListaRegistros TFormDList::CrearListaArrastre(const std::vector<std::u16string>& caminos) {
  TListaRegistros lista;
  try {
    const bool caminoOrigen = ajustes_->UsarCaminoOrigen.load();
    for (const std::u16string& camino : caminos) {
      // Without the source path each item lands in the destination's root: its own folder
      // part goes, even when the items come from different folders (a search's results).
      std::size_t prefijo = 3;
      if (!caminoOrigen) {
        const auto cut = camino.find_last_of(u"\\:");
        prefijo = cut == std::u16string::npos ? 0 : cut + 1;
      }
      WIN32_FIND_DATAW data;
      HANDLE find = FindFirstFileW(u"\\\\?\\" + camino, &data);
      if (find == INVALID_HANDLE_VALUE) continue;  // It vanished between the drag and the drop.
      FindClose(find);
      AgregarArchivo(lista, camino, data, prefijo);
    }
  } catch (const EInterrumpido&) {
    lista.clear();  // The window is closing: nothing of this drop is queued.
  } catch (...) {
  }
  return lista;
}

void TFormDList::DListBoxDropFiles(const std::vector<std::u16string>& caminos) {
  int contados = 0;
  for (int i = 0; i < DListBox->count(); ++i) {
    TDHilo* worker = DList[static_cast<std::size_t>(i)];
    QListWidgetItem* item = DListBox->item(i);
    if (item->isSelected()) {
      if (worker == OCopia || worker->GetLEC() != 0) {
        item->setSelected(false);
      } else {
        ++contados;
      }
    }
    worker->Seleccionado = item->isSelected();
  }
  if (contados == 0) return;

  HabilitarBarra(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  operacionEnCurso_ = true;
  TListaRegistros soltados;
  bool priorizar = true;
  {
    TPausa pausa(OCopia);
    soltados = CrearListaArrastre(caminos);
  }
  QCoreApplication::processEvents();
  std::deque<std::unique_ptr<TFRec>>& cola = OCopia->LockFList();
  try {
    // An interrupted branch still leaves through the purge: no record stays without a
    // destination.
    try {
      if (ToolButtonSumarRestar->ImageIndex() == 8) {
        RamaEliminar(soltados, cola);
      } else {
        try {
          RamaAgregar(soltados, cola);
        } catch (const EInterrumpido&) {
          throw;
        } catch (...) {
        }
      }
    } catch (const EInterrumpido&) {
      priorizar = false;
    }
    // Records left without destinations go, with their share of the origin's total.
    for (std::size_t i = cola.size(); i-- > 0;) {
      if (!cola[i]->DList.empty()) continue;
      OCopia->AddDFin(-OCopia->DTalla(cola[i]->Talla));
      cola.erase(cola.begin() + static_cast<std::ptrdiff_t>(i));
    }
    QCoreApplication::processEvents();
    for (TDHilo* worker : DList) {
      if (worker->Seleccionado) worker->GetEspacioLibre();
    }
    QCoreApplication::processEvents();
  } catch (...) {
    priorizar = false;
    OCopia->UnLockFList();
    RestaurarTrasArrastre();
    throw;
  }
  OCopia->UnLockFList();
  soltados.clear();
  QCoreApplication::processEvents();
  RestaurarTrasArrastre();
  if (priorizar) ToolButtonPriorizarClick();
}

void TFormDList::RestaurarTrasArrastre() {
  QApplication::restoreOverrideCursor();
  HabilitarBarra(true);
  for (TBotonHerramienta* b : {ToolButtonContinuarDetener, ToolButtonAbrirGuardar, ToolButtonPriorizar, ToolButtonActualizar,
                               ToolButtonSumarRestar, ToolButtonListar, ToolButtonAjusteProgreso}) {
    b->setEnabled(true);
  }
  ToolButtonCancelar->setEnabled(!DList.empty());
  ProgresoTexto.clear();
  ProgresoValor = 0;
  TerminarOperacion();
}

void TFormDList::RamaAgregar(const TListaRegistros& soltados, std::deque<std::unique_ptr<TFRec>>& cola) {
  std::vector<TFRec*> ordenada;
  for (const auto& R : cola) ordenada.push_back(R.get());
  std::stable_sort(ordenada.begin(), ordenada.end(), [](TFRec* a, TFRec* b) { return CompararNombre(*a, *b) < 0; });
  QCoreApplication::processEvents();
  std::vector<TFRec*> trabajos;
  for (const auto& D : soltados) {
    TFRec* R = BuscarFR(ordenada, D->ONombre);
    if (R == nullptr) {
      auto nuevo = std::make_unique<TFRec>();
      nuevo->ONombre = D->ONombre;
      nuevo->DNombre = D->DNombre;
      nuevo->Talla = D->Talla;
      nuevo->Atributos = D->Atributos;
      nuevo->Tiempo = D->Tiempo;
      OCopia->AddDFin(OCopia->DTalla(nuevo->Talla));
      R = nuevo.get();
      cola.push_back(std::move(nuevo));
    }
    trabajos.push_back(R);
  }
  QCoreApplication::processEvents();
  std::vector<TDHilo*> destinos;
  for (TDHilo* worker : DList) {
    if (worker->Seleccionado) destinos.push_back(worker);
  }
  const std::size_t m = destinos.size(), n = trabajos.size();
  for (std::size_t k = 0; k < m; ++k) {
    TDHilo* DH = destinos[k];
    const THRec rec = DH->Identidad();
    ProgresoTexto = u"Comprobando destinos en " + rec.Nombre + u"(" + rec.Letra + u":)";
    PBMemoria->update();
    QCoreApplication::processEvents();
    TPausa pausa(DH);
    const TListaRegistros listado = LeerListado(DH);
    const std::vector<TFRec*> listados = Punteros(listado);
    for (std::size_t i = 0; i < n; ++i) {
      RefrescarProgreso([&] { ProgresoValor = ValorProgreso(static_cast<std::int64_t>(k * n + i), static_cast<std::int64_t>(m * n)); });
      TFRec* R = trabajos[i];
      if (R->EncontrarDestino(DH)) continue;
      // Skipped files count in the drive's report; folders do not.
      const bool archivo = (R->Atributos & FILE_ATTRIBUTE_DIRECTORY) == 0;
      if (BuscarFR(listados, R->ONombre) != nullptr) {
        if (archivo) DH->ContarOmitido(true);
        continue;
      }
      if (MismoArchivo(Camino(rec.Letra, R->DNombre), R->Talla, R->Tiempo.ETiempo)) {
        if (archivo) DH->ContarOmitido(false);
        continue;
      }
      R->DList.push_back(DH);
      DH->AddDFin(DH->DTalla(R->Talla));
    }
  }
}
