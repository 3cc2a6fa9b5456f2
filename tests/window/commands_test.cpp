// The window's commands, the gauge and the rows.

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>

#include <gtest/gtest.h>

#include "engine/OperacionesOrigen.h"

#include "engine/OperacionesDestino.h"
#include <QScrollBar>

#include "engine/Progreso.h"
#include "platform/locale.h"
#include "platform/memory.h"
#include "tests/window/Ventana.h"
#include "window/Aplicacion.h"
#include "window/LienzoQt.h"

namespace {

using namespace win32;
using prueba::EsperarVentana;
using prueba::Procesar;
using prueba::Ventana;

TEST(Comandos, PauseWithoutWorkersOnlyFlipsTheButton) {
  Ventana v(prueba::Unidades{});
  TBotonHerramienta* pause = v.form().ToolButtonContinuarDetener;
  EXPECT_FALSE(pause->isEnabled()) << "enabled by the first drop with destinations";
  v.form().ToolButtonContinuarDetenerClick();
  EXPECT_EQ(pause->ImageIndex(), 1);
  EXPECT_EQ(pause->Hint().toStdString(), "Continuar operaciones.");
  EXPECT_FALSE(pause->isEnabled());
  EXPECT_TRUE(EsperarVentana([&] { return pause->isEnabled(); }, 2000)) << "given back after one timer interval";
  EXPECT_FALSE(v.form().ToolButtonCancelar->isEnabled());
}

TEST(Comandos, APausedWindowStillRunsADriveFoundLaterAndContinueResumesAll) {
  Ventana v(prueba::Unidades{{u'C'}});
  TDHilo* C = v.Hilo(u'C');
  v.form().ToolButtonContinuarDetenerClick();
  EXPECT_TRUE(C->Suspended());
  v.CambiarUnidades(prueba::Unidades{{u'C'}, {u'D'}});
  v.form().ToolButtonActualizarClick();
  TDHilo* D = v.Hilo(u'D');
  ASSERT_NE(D, nullptr);
  EXPECT_FALSE(D->Suspended());
  EXPECT_TRUE(EsperarVentana([&] { return D->Identidad().Letra == u'D'; })) << "it runs";
  ASSERT_TRUE(EsperarVentana([&] { return v.form().ToolButtonContinuarDetener->isEnabled(); }, 2000));
  v.form().ToolButtonContinuarDetenerClick();
  EXPECT_FALSE(C->Suspended());
  EXPECT_EQ(v.form().ToolButtonContinuarDetener->ImageIndex(), 0);
  EXPECT_EQ(v.form().ToolButtonContinuarDetener->Hint().toStdString(), "Detener operaciones.");
}

TEST(Comandos, CancelRemovesOnlyTheSelectedDestinations) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E'}, {u'F'}});
  v.form().DListBox->clearSelection();
  v.form().ToolButtonCancelarClick();
  EXPECT_EQ(v.form().Dispositivos().size(), 3u) << "nothing selected, nothing removed";
  EXPECT_TRUE(v.form().ToolButtonCancelar->isEnabled());

  v.form().AsignarOrigen(v.Hilo(u'E'));
  v.Seleccionar({u'E'});
  v.form().ToolButtonCancelarClick();
  EXPECT_EQ(v.form().Dispositivos().size(), 3u) << "the origin is never cancelled";
  EXPECT_FALSE(v.form().DListBox->item(v.Fila(u'E'))->isSelected());

  const std::int64_t alive = TDHilo::Vivos();
  v.Seleccionar({u'C', u'E'});
  v.form().ToolButtonCancelarClick();
  EXPECT_EQ(v.form().Dispositivos().size(), 2u);
  EXPECT_EQ(v.form().DListBox->count(), 2);
  EXPECT_EQ(v.Hilo(u'C'), nullptr);
  EXPECT_TRUE(EsperarVentana([&] { return TDHilo::Vivos() == alive - 1; })) << "the origin ended it";
}

TEST(Comandos, CancelWithoutAnOriginAndEveryRowSelectedEmptiesTheList) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E'}});
  v.Seleccionar({u'C', u'E'});
  v.form().ToolButtonCancelarClick();
  EXPECT_TRUE(v.form().Dispositivos().empty());
  EXPECT_EQ(v.form().DListBox->count(), 0);
  EXPECT_FALSE(v.form().ToolButtonCancelar->isEnabled());
}

TEST(Comandos, PrioritiseWithoutAnOriginDoesNothing) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E'}});
  v.form().ToolButtonPriorizarClick();
  EXPECT_TRUE(v.form().ToolBarHerramientas->isEnabled());
  EXPECT_EQ(v.form().Origen(), nullptr);
}

TEST(Comandos, TheModeAndViewSwitches) {
  Ventana v(prueba::Unidades{{u'C'}});
  TBotonHerramienta* mode = v.form().ToolButtonSumarRestar;
  v.form().ToolButtonSumarRestarClick();
  EXPECT_EQ(mode->ImageIndex(), 8);
  EXPECT_EQ(mode->Hint(), QStringLiteral("Al arrastar eliminar."));
  v.form().ToolButtonSumarRestarClick();
  EXPECT_EQ(mode->ImageIndex(), 7);
  EXPECT_EQ(mode->Hint(), QStringLiteral("Al arrastrar agregar."));
  v.form().show();
  v.form().ToolButtonAjusteProgresoClick();
  EXPECT_TRUE(v.form().PageControlConfigurar->isVisible());
  EXPECT_EQ(v.form().ToolButtonAjusteProgreso->ImageIndex(), 11);
  EXPECT_EQ(v.form().ToolButtonAjusteProgreso->Hint(), QStringLiteral("Progreso."));
  v.form().ToolButtonAjusteProgresoClick();
  EXPECT_FALSE(v.form().PageControlConfigurar->isVisible());
  EXPECT_EQ(v.form().ToolButtonAjusteProgreso->ImageIndex(), 10);
}

// The gauge painted into an image: its bottom-right pixel is the bar or the background.
QColor Medidor(Ventana& v, DWORD load, std::uint64_t available) {
  InstallMemoryStatus([=] {
    MEMORYSTATUSEX status;
    status.ullTotalPhys = 8ull << 30;
    status.ullAvailPhys = available;
    status.dwMemoryLoad = load;
    return status;
  });
  QImage image(200, 38, QImage::Format_RGB32);
  QPainter painter(&image);
  v.form().PBMemoriaPaint(painter, 200, 38);
  painter.end();
  InstallMemoryStatus(nullptr);
  return image.pixelColor(198, 37);
}

TEST(Comandos, TheMemoryGauge) {
  Ventana v(prueba::Unidades{{u'C'}});
  TAjustes& a = v.form().Ajustes();
  const QColor background = v.form().palette().color(QPalette::Window);
  const std::uint64_t plenty = static_cast<std::uint64_t>(a.MemoriaLibre.load()) + (1ull << 30);
  EXPECT_EQ(Medidor(v, 0, plenty), background) << "load 0: no bar";
  EXPECT_EQ(Medidor(v, 100, plenty), ColorDe(a.ColorOrigen.load())) << "load 100: the whole width";
  EXPECT_EQ(Medidor(v, 100, static_cast<std::uint64_t>(a.MemoriaLibre.load())), ColorDe(a.ColorError.load()))
      << "available memory at the reserve: the error colour";
  v.form().ProgresoTexto = u"Creando lista";
  v.form().ProgresoValor = 0;
  EXPECT_EQ(Medidor(v, 100, plenty), background) << "with a progress text the bar takes the top half only";
}

// A row painted into an image: how much of its top half is in the colour.
double Cubierto(Ventana& v, int row, std::uint32_t color) {
  QImage image(400, v.form().DListBoxMeasureItem(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  v.form().DrawItem(painter, row, image.rect(), false, false);
  painter.end();
  int hits = 0;
  for (int y = 0; y < image.height() / 2; ++y) {
    for (int x = 0; x < image.width(); ++x) hits += image.pixelColor(x, y) == ColorDe(color) ? 1 : 0;
  }
  return static_cast<double>(hits) / (image.width() * image.height() / 2);
}

// Placeholder operations that carry bytes move a worker's position without any file.
void Avanzar(TDHilo* worker, std::int64_t bytes) {
  auto op = std::make_unique<TEspera>();
  op->BufBytes = bytes;
  op->DNombre = op->ONombre = u"Fotos\\img001.jpg";
  worker->IOList.Add(std::move(op));
}

TEST(Comandos, RowsShowBothLinesWithBarsInTheirColours) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E'}, {u'F'}, {u'G'}});
  TAjustes& a = v.form().Ajustes();
  a.TiempoError = 300;
  TDHilo* E = v.Hilo(u'E');
  v.form().AsignarOrigen(E);
  for (char16_t d : {u'E', u'F'}) {
    v.Hilo(d)->AddDFin(1000);
    Avanzar(v.Hilo(d), 800);
  }
  // G fails: an operation that starts nothing (a drive that does not answer) times out.
  auto create = std::make_unique<TArchivoAusente>();
  create->DNombre = u"..\\fuera";
  v.Hilo(u'G')->AddDFin(1000);
  v.Hilo(u'G')->IOList.Add(std::move(create));
  ASSERT_TRUE(EsperarVentana([&] {
    return E->GetDPos() == 800 && v.Hilo(u'F')->GetDPos() == 800 && v.Hilo(u'G')->GetLEC() != 0;
  }));
  EXPECT_GT(Cubierto(v, v.Fila(u'E'), a.ColorOrigen.load()), 0.5) << "80% of the origin's job bar";
  EXPECT_GT(Cubierto(v, v.Fila(u'F'), a.ColorDestino.load()), 0.5);
  EXPECT_LT(Cubierto(v, v.Fila(u'C'), a.ColorDestino.load()), 0.01) << "no work, no bar";
  v.Hilo(u'G')->AddDFin(0);
  Avanzar(v.Hilo(u'G'), 0);
  EXPECT_EQ(Cubierto(v, v.Fila(u'G'), a.ColorDestino.load()), 0.0);
  // Text in the window's text colour stands in both halves of a row.
  QImage image(400, v.form().DListBoxMeasureItem(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  v.form().DrawItem(painter, v.Fila(u'F'), image.rect(), false, false);
  painter.end();
  const QColor ink = v.form().DListBox->palette().color(QPalette::WindowText);
  int top = 0, bottom = 0;
  for (int y = 0; y < image.height() - 1; ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y) == ink) (y < image.height() / 2 ? top : bottom)++;
    }
  }
  EXPECT_GT(top, 20);
  EXPECT_GT(bottom, 20);
}

TEST(Comandos, AFailureThatEscapesAHandlerIsShownAndTheWindowGoesOn) {
  Ventana v(prueba::Unidades{{u'C'}});
  std::vector<QString> shown;
  const auto before = TAplicacion::Informar;
  TAplicacion::Informar = [&](const QString& text) { shown.push_back(text); };
  QTimer::singleShot(0, &v.form(), [] { throw std::runtime_error("falla de prueba"); });
  bool later = false;
  QTimer::singleShot(50, &v.form(), [&] { later = true; });
  EXPECT_TRUE(EsperarVentana([&] { return later; }, 5000)) << "the window goes on";
  TAplicacion::Informar = before;
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].toStdString(), "falla de prueba");
}

// The report of a failure belongs to the window, so that it opens above it: the window
// stays on top of others, and a report behind it would make the program look frozen.
TEST(Comandos, TheFailureReportOpensAboveTheWindow) {
  Ventana v(prueba::Unidades{{u'C'}});
  QWidget* parent = nullptr;
  bool onTop = false;
  QTimer finder;
  finder.setInterval(10);
  QObject::connect(&finder, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    parent = box->parentWidget();
    onTop = (box->windowFlags() & Qt::WindowStaysOnTopHint) != 0;
    box->done(QMessageBox::Ok);
    finder.stop();
  });
  finder.start();
  QTimer::singleShot(0, &v.form(), [] { throw std::runtime_error("falla de prueba"); });
  EXPECT_TRUE(EsperarVentana([&] { return !finder.isActive(); }, 5000)) << "the report was shown";
  EXPECT_EQ(parent, &v.form());
  EXPECT_TRUE(onTop);
}

// The window is as wide as its texts: a row's top line at its longest for the widest drive
// name, the toolbar beside the gauge's text, the settings grid without a scroll bar; and when
// the user widens it, rows and gauge follow.
TEST(Comandos, TheWindowIsAsWideAsItsTextsAndItsPartsFollowAResize) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E', DRIVE_REMOVABLE, u"RESPALDO DE FOTOS 2016"}, {u'F', DRIVE_REMOVABLE}});
  TFormDList& f = v.form();
  f.show();
  prueba::Procesar(100);
  const QFontMetrics m(f.font());
  const std::u16string velocidad = TallaStr(123456789) + u"/Seg. Termina " + FormatLongTime(0.5);
  for (TDHilo* DH : f.Dispositivos()) {
    const THRec rec = DH->Identidad();
    const std::u16string fila = rec.Nombre + u" (" + rec.Letra + u") " + DH->GetCapacidad() + u" 100% " + velocidad;
    EXPECT_LE(m.horizontalAdvance(Texto(fila)), f.DListBox->viewport()->width()) << "a row's text is cut";
  }
  const QString medidor = Texto(u" Memoria ocupada 100%, Libre " + TallaStr(99999999999));
  EXPECT_LE(m.horizontalAdvance(medidor), f.PBMemoria->width()) << "the gauge's text is cut";
  f.ToolButtonAjusteProgresoClick();  // The settings open above the rows.
  prueba::Procesar(100);
  EXPECT_FALSE(f.ValueListEditorVariables->horizontalScrollBar()->isVisible()) << "the settings grid scrolls sideways";
  f.ToolButtonAjusteProgresoClick();

  const int lista = f.DListBox->viewport()->width(), medidorAncho = f.PBMemoria->width();
  f.resize(f.width() + 200, f.height() + 100);
  prueba::Procesar(100);
  EXPECT_EQ(f.DListBox->viewport()->width(), lista + 200) << "the rows do not follow";
  EXPECT_EQ(f.PBMemoria->width(), medidorAncho + 200) << "the gauge does not follow";
  EXPECT_EQ(f.DListBox->visualItemRect(f.DListBox->item(0)).width(), f.DListBox->viewport()->width());
}

}  // namespace
