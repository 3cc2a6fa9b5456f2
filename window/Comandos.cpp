// The toolbar commands that act on running work, the two mode switches, the timer and the
// memory gauge.

#include <QApplication>
#include <QPainter>
#include <QTabWidget>
#include <QTimer>

#include "engine/Progreso.h"
#include "platform/memory.h"
#include "window/FormDList.h"
#include "window/LienzoQt.h"

using namespace win32;

namespace {

// The wait cursor for as long as the object lives.
class CursorEspera {
 public:
  CursorEspera() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~CursorEspera() { QApplication::restoreOverrideCursor(); }
  CursorEspera(const CursorEspera&) = delete;
  CursorEspera& operator=(const CursorEspera&) = delete;
};

}  // namespace

void TFormDList::HabilitarBarra(bool habilitada) { ToolBarHerramientas->setEnabled(habilitada); }

// Workers are parked at the top of their loop, never inside a list lock. The button stays
// disabled for one timer interval, so the command cannot be repeated faster than that; the
// window keeps running meanwhile.
void TFormDList::ToolButtonContinuarDetenerClick() {
  ToolButtonContinuarDetener->setEnabled(false);
  try {
    if (ToolButtonContinuarDetener->ImageIndex() == 0) {
      for (TDHilo* worker : DList) worker->Suspend();
      ToolButtonContinuarDetener->SetImageIndex(1);
      ToolButtonContinuarDetener->SetHint(QStringLiteral("Continuar operaciones."));
    } else {
      for (TDHilo* worker : DList) worker->Resume();
      ToolButtonContinuarDetener->SetImageIndex(0);
      ToolButtonContinuarDetener->SetHint(QStringLiteral("Detener operaciones."));
    }
  } catch (...) {
  }
  QTimer::singleShot(TimerV->interval(), ToolButtonContinuarDetener, [this] { ToolButtonContinuarDetener->setEnabled(true); });
}

void TFormDList::ToolButtonPriorizarClick() {
  if (OCopia == nullptr) return;
  HabilitarBarra(false);
  {
    CursorEspera cursor;
    try {
      const int row = DListBox->currentRow();
      if (row >= 0 && row < static_cast<int>(DList.size())) OCopia->PriorizarDestino(DList[static_cast<std::size_t>(row)]);
    } catch (...) {
    }
  }
  HabilitarBarra(true);
}

void TFormDList::ToolButtonCancelarClick() {
  ToolButtonCancelar->setEnabled(false);
  {
    CursorEspera cursor;
    try {
      if (OCopia == nullptr) {
        for (int i = DListBox->count() - 1; i >= 0; --i) {
          if (!DListBox->item(i)->isSelected()) continue;
          TDHilo* worker = DList[static_cast<std::size_t>(i)];
          DList.erase(DList.begin() + i);
          worker->Terminate();
          delete DListBox->takeItem(i);
        }
      } else {
        for (int i = 0; i < DListBox->count(); ++i) {
          if (DList[static_cast<std::size_t>(i)] == OCopia) DListBox->item(i)->setSelected(false);
        }
        for (int i = static_cast<int>(DList.size()) - 1; i >= 0; --i) {
          DList[static_cast<std::size_t>(i)]->Seleccionado = DListBox->item(i)->isSelected();
        }
        for (int i = DListBox->count() - 1; i >= 0; --i) {
          if (DListBox->item(i)->isSelected()) delete DListBox->takeItem(i);
        }
        for (int i = static_cast<int>(DList.size()) - 1; i >= 0; --i) {
          TDHilo* worker = DList[static_cast<std::size_t>(i)];
          if (!worker->Seleccionado) continue;
          AnotarRetirada(worker);
          OCopia->EliminarFiles(worker);
          OCopia->EliminarDestinosList.Add(worker);
          DList.erase(DList.begin() + i);
        }
      }
    } catch (...) {
    }
  }
  ToolButtonCancelar->setEnabled(!DList.empty());
}

void TFormDList::ToolButtonSumarRestarClick() {
  if (ToolButtonSumarRestar->ImageIndex() == 8) {
    ToolButtonSumarRestar->SetImageIndex(7);
    ToolButtonSumarRestar->SetHint(QStringLiteral("Al arrastrar agregar."));
  } else {
    ToolButtonSumarRestar->SetImageIndex(8);
    ToolButtonSumarRestar->SetHint(QStringLiteral("Al arrastar eliminar."));
  }
}

void TFormDList::ToolButtonAjusteProgresoClick() {
  if (PageControlConfigurar->isVisible()) {
    PageControlConfigurar->setVisible(false);
    ToolButtonAjusteProgreso->SetImageIndex(10);
    ToolButtonAjusteProgreso->SetHint(QStringLiteral("Ajustes."));
  } else {
    PageControlConfigurar->setVisible(true);
    ToolButtonAjusteProgreso->SetImageIndex(11);
    ToolButtonAjusteProgreso->SetHint(QStringLiteral("Progreso."));
  }
}

void TFormDList::TimerVTimer() {
  VigilarMontajes();
  for (TDHilo* worker : DList) worker->OnTime();
  VigilarFin();
  DListBox->viewport()->update();
  PBMemoria->update();
  PublicarEstado();
}

void TFormDList::PBMemoriaPaint(QPainter& canvas, int W, int H) {
  try {
    canvas.fillRect(0, 0, W, H, palette().color(QPalette::Window));
    MEMORYSTATUSEX status;
    if (!GlobalMemoryStatusEx(&status)) return;
    const int L = static_cast<int>(status.dwMemoryLoad);
    const std::uint64_t A = status.ullAvailPhys;
    const int x = L * W / 100;
    const QColor bar = ColorDe(A > static_cast<std::uint64_t>(ajustes_->MemoriaLibre.load()) ? ajustes_->ColorOrigen.load()
                                                                                               : ajustes_->ColorError.load());
    const QString memoria = Texto(u" Memoria ocupada " + Utf16Decimal(L) + u"%, Libre " + TallaStr(static_cast<std::int64_t>(A)));
    canvas.setFont(font());
    canvas.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    if (ProgresoTexto.empty()) {
      canvas.fillRect(0, 0, x, H, bar);
      canvas.drawText(0, H / 2 - metrics.height() / 2 + metrics.ascent(), memoria);
    } else {
      canvas.fillRect(0, 0, x, H / 2, bar);
      canvas.fillRect(0, H / 2, ProgresoValor, H - H / 2, ColorDe(ajustes_->ColorDestino.load()));
      canvas.drawText(0, metrics.ascent(), memoria);
      canvas.drawText(0, H / 2 + metrics.ascent(), Texto(ProgresoTexto));
    }
  } catch (...) {
  }
}
