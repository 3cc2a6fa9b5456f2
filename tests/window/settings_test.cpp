// The settings: their validation, the configuration file and its damage.

#include <sys/stat.h>

#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include "engine/Flujos.h"
#include "platform/memory.h"
#include "tests/window/Ventana.h"
#include "window/LienzoQt.h"

namespace {

using namespace win32;
using prueba::Unidades;
using prueba::Ventana;

// The window measures the memory it is given when it is made.
class Memoria {
 public:
  explicit Memoria(std::uint64_t total) {
    InstallMemoryStatus([total] {
      MEMORYSTATUSEX status;
      status.ullTotalPhys = total;
      status.ullAvailPhys = total / 2;
      status.dwMemoryLoad = 50;
      return status;
    });
  }
  ~Memoria() { InstallMemoryStatus(nullptr); }
};


std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int b : values) out += static_cast<char>(b);
  return out;
}

// The five rows' 54 bytes as before, then the sixth value.
TEST(Configuracion, DefaultsOnAnEightGibiByteComputerAreTheFiftyFourBytesAndTheSixthValue) {
  Memoria memoria(8ull << 30);
  prueba::TempDir folder;
  {
    Ventana v(Unidades{{u'C'}}, {}, folder.path());
    EXPECT_EQ(v.form().Fila(1), u"2");
    EXPECT_EQ(v.form().Ajustes().MemoriaLibre.load(), (8LL << 30) * 3 / 10) << "30 %, not a whole GiB";
  }
  const std::string expected = Bytes({0x99, 0xA6, 0, 0, 0xFF, 0xA0, 0x80, 0, 0, 0xD2, 0xD2, 0, 0xD2, 0, 0xD2, 0}) +
                               prueba::Contada("2") + prueba::Contada("15") + prueba::Contada("Si") + prueba::Contada("80") + prueba::Contada("No");
  ASSERT_EQ(expected.size(), 54u);
  EXPECT_EQ(prueba::ReadFile(folder.path() + "/Vertilo.cfg"), expected + prueba::Contada("Si"));
}

TEST(Configuracion, StoredColoursReachTheSwatches) {
  prueba::TempDir folder;
  prueba::WriteFile(folder.path() + "/Vertilo.cfg",
                    Bytes({0x99, 0xA6, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0}) + prueba::Contada("3") + prueba::Contada("20") +
                        prueba::Contada("No") + prueba::Contada("8080") + prueba::Contada("No"));
  Memoria memoria(16ull << 30);
  Ventana v(Unidades{{u'C'}}, {}, folder.path());
  const struct {
    TMuestraColor* swatch;
    QColor color;
  } cases[] = {{v.form().PaintBoxColorOrigen, Qt::red},
               {v.form().PaintBoxColorDestino, Qt::green},
               {v.form().PaintBoxColorError, Qt::blue}};
  for (const auto& c : cases) {
    const QImage image = c.swatch->grab().toImage();
    EXPECT_EQ(image.pixelColor(1, 1), c.color);
  }
  EXPECT_EQ(v.form().Ajustes().MemoriaLibre.load(), 3LL << 30);
  EXPECT_EQ(v.form().Ajustes().TiempoError.load(), 20000u);
  EXPECT_FALSE(v.form().Ajustes().UsarCaminoOrigen.load());
  EXPECT_EQ(v.servidor->Puerto(), 8080);
}

TEST(Configuracion, AClickOnASwatchChangesItsColourAtOnceAndCancelChangesNothing) {
  Ventana v(Unidades{{u'C'}});
  std::optional<std::uint32_t> answer = 0x00123456;
  std::uint32_t offered = 0;
  v.form().ElegirColor = [&](std::uint32_t current) {
    offered = current;
    return answer;
  };
  const std::uint32_t before = v.form().Ajustes().ColorDestino.load();
  TMuestraColor* swatch = v.form().PaintBoxColorDestino;
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(swatch, &press);
  EXPECT_EQ(offered, before) << "the chooser starts at the swatch's colour";
  EXPECT_EQ(v.form().Ajustes().ColorDestino.load(), 0x00123456u);
  EXPECT_EQ(swatch->grab().toImage().pixelColor(1, 1), QColor(0x56, 0x34, 0x12));
  answer.reset();
  QCoreApplication::sendEvent(swatch, &press);
  EXPECT_EQ(v.form().Ajustes().ColorDestino.load(), 0x00123456u);
}

TEST(Configuracion, ValidationClampsAndRejects) {
  Ventana v(Unidades{{u'C'}});
  TFormDList& f = v.form();
  TAjustes& a = f.Ajustes();
  const std::int64_t GiB = 1LL << 30;
  const struct {
    std::int64_t memoria;  // MemoriaTotal for the case
    int row;
    std::u16string text;
    std::u16string shown;
  } cases[] = {
      {GiB * 79 / 10, 1, u"8", u"6"},  // 7.9 GiB: t = 7, at most t - 1
      {GiB * 79 / 10, 1, u"0", u"1"},
      {GiB * 3 / 2, 1, u"5", u"1"},    // under 2 GiB every value becomes 1
      {GiB * 8, 1, u"5  ", u"5"},      // a digit and the mask's spaces
      {GiB * 8, 2, u"0", u"1"},
      {GiB * 8, 2, u"5000", u"3600"},
      {GiB * 8, 3, u"si", u"si"},
  };
  for (const auto& c : cases) {
    a.MemoriaTotal = c.memoria;
    f.ValueListEditorVariablesKeyPress(c.row, c.text);
    EXPECT_EQ(f.Fila(c.row), c.shown) << c.row << " " << std::string(c.text.begin(), c.text.end());
  }
  EXPECT_EQ(a.TiempoError.load(), 3600000u);
  EXPECT_FALSE(a.UsarCaminoOrigen.load()) << "only \"Si\" is yes";
  EXPECT_EQ(a.MemoriaLibre.load(), 5 * GiB);
  f.ValueListEditorVariablesKeyPress(1, u"   ");
  EXPECT_EQ(a.MemoriaLibre.load(), 5 * GiB) << "an all-space row changes nothing";
  EXPECT_EQ(f.Fila(1), u"5");
}

TEST(Configuracion, ThePortRowAndTheServerRow) {
  Ventana v(Unidades{{u'C'}});
  TFormDList& f = v.form();
  prueba::ServidorDePrueba& server = *v.servidor;
  for (const char16_t* text : {u"0", u"70000", u"abc"}) {
    f.ValidarVariable(4, text);
    EXPECT_EQ(server.Puerto(), 80);
    EXPECT_EQ(f.Fila(4), u"80");
  }
  f.ValidarVariable(5, u"No");
  EXPECT_FALSE(server.Activo());
  EXPECT_EQ(f.Fila(5), u"No");
  f.ValidarVariable(5, u"Si");
  ASSERT_TRUE(server.Activo());
  const int starts = server.inicios;
  f.ValidarVariable(4, u"8080");
  EXPECT_EQ(server.Puerto(), 8080);
  EXPECT_TRUE(server.Activo());
  EXPECT_EQ(server.inicios, starts + 1) << "restarted on the new port";
  server.puertoOcupado = true;
  f.ValidarVariable(4, u"9090");
  EXPECT_FALSE(server.Activo()) << "a failed restart leaves it stopped, on the new port";
  EXPECT_EQ(f.Fila(5), u"No");
  f.ValidarVariable(5, u"Si");
  EXPECT_EQ(f.Fila(5), u"Si") << "the row keeps what the user chose";
}

TEST(Configuracion, TheEditorHasItsMasksAndPickLists) {
  Ventana v(Unidades{{u'C'}});
  TEditorVariables* editor = v.form().ValueListEditorVariables;
  EXPECT_EQ(editor->rowCount(), 6);
  EXPECT_EQ(editor->item(0, 0)->text().toStdString(), "Memoria libre (Gigabytes)");
  EXPECT_EQ(editor->item(4, 0)->text().toStdString(), "Activar Servidor Web (Si/No)");
  EXPECT_EQ(editor->item(5, 0)->text().toStdString(), "Verificar copias (Si/No)");
  QStyleOptionViewItem option;
  const char* masks[] = {"900", "90", nullptr, "90000", nullptr, nullptr};
  for (int row = 0; row < 6; ++row) {
    QWidget* widget = editor->itemDelegate()->createEditor(editor, option, editor->model()->index(row, 1));
    if (masks[row] != nullptr) {
      auto* edit = qobject_cast<QLineEdit*>(widget);
      ASSERT_NE(edit, nullptr);
      EXPECT_EQ(edit->inputMask().toStdString(), masks[row]);
      edit->setText(QStringLiteral("7x"));
      EXPECT_EQ(QuitarEspacios(::Texto16(edit->displayText())), u"7") << "digits only";
    } else {
      auto* list = qobject_cast<QComboBox*>(widget);
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(list->count(), 2);
      EXPECT_FALSE(list->isEditable());
    }
    delete widget;
  }
}

// The user opens a row's editor, types the value as anyone would (no leading zeros) and
// presses Enter: the setting takes it, and the file written at close holds it.
TEST(Configuracion, ValuesTypedInTheEditorAreTakenAndSaved) {
  Memoria memoria(16ull << 30);
  prueba::TempDir folder;
  const struct {
    int row;
    const char* typed;
    const char* shown;
  } cases[] = {{1, "4", "4"}, {2, "8", "8"}, {4, "8080", "8080"}, {1, "12", "12"}, {2, "90", "90"}};
  {
    Ventana v(Unidades{{u'C'}}, {}, folder.path());
    TEditorVariables* editor = v.form().ValueListEditorVariables;
    v.form().ToolButtonAjusteProgresoClick();
    for (const auto& c : cases) {
      const QModelIndex index = editor->model()->index(c.row - 1, 1);
      editor->setCurrentIndex(index);
      editor->edit(index);
      QLineEdit* edit = nullptr;
      for (QLineEdit* candidate : editor->findChildren<QLineEdit*>()) {
        if (candidate->isVisible() || candidate->parentWidget() == editor->viewport()) edit = candidate;
      }
      ASSERT_NE(edit, nullptr) << "row " << c.row << " has its editor open";
      QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(edit, QString::fromLatin1(c.typed));
      QTest::keyClick(edit, Qt::Key_Return);
      QCoreApplication::processEvents();
      EXPECT_EQ(v.form().Fila(c.row), ::Texto16(QString::fromLatin1(c.shown))) << "row " << c.row << " typed " << c.typed;
    }
    EXPECT_EQ(v.form().Ajustes().MemoriaLibre.load(), 12LL << 30);
    EXPECT_EQ(v.form().Ajustes().TiempoError.load(), 90000u);
    EXPECT_EQ(v.servidor->Puerto(), 8080);
  }
  const std::string saved = prueba::ReadFile(folder.path() + "/Vertilo.cfg");
  ASSERT_GE(saved.size(), 16u);
  EXPECT_EQ(saved.substr(16), prueba::Contada("12") + prueba::Contada("90") + prueba::Contada("Si") + prueba::Contada("8080") +
                                  prueba::Contada("No") + prueba::Contada("Si"));
}

// A file written before the sixth value reads its five rows exactly as before, and the
// sixth keeps its default; with it, the sixth is read, and only "Si" means yes. The pick
// list and Enter set it as they set row 3.
TEST(Configuracion, TheSixthValueIsReadWhenThereAndDefaultsWhenNot) {
  const std::string head = Bytes({0x99, 0xA6, 0, 0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0});
  const std::string cinco = prueba::Contada("3") + prueba::Contada("20") + prueba::Contada("No") + prueba::Contada("81") + prueba::Contada("No");
  const struct {
    const char* caso;
    std::string bytes;
    bool verificar;
    const char* fila;
  } casos[] = {
      {"five values", head + cinco, true, "Si"},
      {"six, No", head + cinco + prueba::Contada("No"), false, "No"},
      {"six, si", head + cinco + prueba::Contada("si"), false, "No"},  // as row 3: only "Si" means yes
      {"six, Si", head + cinco + prueba::Contada("Si"), true, "Si"},
      {"six, cut short", head + cinco + Bytes({2, 0, 0, 0, 'N'}), true, "Si"},
  };
  for (const auto& c : casos) {
    Memoria memoria(16ull << 30);
    prueba::TempDir folder;
    prueba::WriteFile(folder.path() + "/Vertilo.cfg", c.bytes);
    Ventana v(Unidades{{u'C'}}, {}, folder.path());
    EXPECT_EQ(v.form().Ajustes().MemoriaLibre.load() >> 30, 3) << c.caso;
    EXPECT_EQ(v.form().Ajustes().TiempoError.load(), 20000u) << c.caso;
    EXPECT_FALSE(v.form().Ajustes().UsarCaminoOrigen.load()) << c.caso;
    EXPECT_EQ(v.servidor->Puerto(), 81) << c.caso;
    EXPECT_EQ(v.form().Ajustes().ColorError.load(), 0x00090807u) << c.caso;
    EXPECT_EQ(v.form().Ajustes().Verificar.load(), c.verificar) << c.caso;
    EXPECT_EQ(v.form().Fila(6), ::Texto16(QString::fromLatin1(c.fila))) << c.caso;
  }
  Ventana v(Unidades{{u'C'}});
  v.form().ValueListEditorVariablesValidate(6, u"No");
  EXPECT_FALSE(v.form().Ajustes().Verificar.load());
  v.form().ValueListEditorVariablesKeyPress(6, u"Si");
  EXPECT_TRUE(v.form().Ajustes().Verificar.load());
  v.form().ValueListEditorVariablesKeyPress(6, u"   ");
  EXPECT_TRUE(v.form().Ajustes().Verificar.load()) << "an empty value changes nothing";
}

// Every kind of damage: the window is made whole, with its drive list.
TEST(Configuracion, ADamagedFileNeverStopsTheWindow) {
  const std::string head = Bytes({0x99, 0xA6, 0, 0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0});
  const std::string good = prueba::Contada("3") + prueba::Contada("20") + prueba::Contada("No") + prueba::Contada("81") + prueba::Contada("No");
  const struct {
    std::string bytes;
    std::int64_t gib;          // expected MemoriaLibre >> 30
    std::uint32_t tiempo;      // expected TiempoError
    std::uint32_t colorOrigen;
  } cases[] = {
      {Bytes({0x98, 0xA6, 0, 0}) + head.substr(4) + good, 4, 15000, 0x0080A0FF},  // another version
      {Bytes({0x99, 0xA6}), 4, 15000, 0x0080A0FF},                                 // shorter than the version
      {head + prueba::Contada("3") + Bytes({2, 0, 0, 0, '2'}), 3, 15000, 0x00030201},       // a text cut short
      {head + prueba::Contada("abc") + prueba::Contada("20"), 4, 20000, 0x00030201},                 // a row that is no number
      {head + Bytes({0xFF, 0xFF, 0xFF, 0x7F}), 4, 15000, 0x00030201},               // a count past the end
  };
  for (const auto& c : cases) {
    Memoria memoria(16ull << 30);
    prueba::TempDir folder;
    prueba::WriteFile(folder.path() + "/Vertilo.cfg", c.bytes);
    Ventana v(Unidades{{u'C'}, {u'E'}}, {}, folder.path());
    EXPECT_EQ(v.form().Dispositivos().size(), 2u);
    EXPECT_EQ(v.form().Ajustes().MemoriaLibre.load() >> 30, c.gib);
    EXPECT_EQ(v.form().Ajustes().TiempoError.load(), c.tiempo);
    EXPECT_EQ(v.form().Ajustes().ColorOrigen.load(), c.colorOrigen);
    EXPECT_EQ(v.form().Fila(1), ::Texto16(QString::number(c.gib)));
  }
}

TEST(Configuracion, TheServerStartsFromTheStoredRowOrShowsNoWhenThePortIsTaken) {
  prueba::TempDir folder;
  const std::string stored = Bytes({0x99, 0xA6, 0, 0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}) + prueba::Contada("3") + prueba::Contada("20") +
                             prueba::Contada("Si") + prueba::Contada("8181") + prueba::Contada("Si");
  prueba::WriteFile(folder.path() + "/Vertilo.cfg", stored);
  {
    Ventana v(Unidades{{u'C'}}, {}, folder.path());
    EXPECT_TRUE(v.servidor->Activo());
    EXPECT_EQ(v.servidor->Puerto(), 8181);
    EXPECT_EQ(v.form().Fila(5), u"Si");
  }
  prueba::WriteFile(folder.path() + "/Vertilo.cfg", stored);
  prueba::ServidorDePrueba* taken = nullptr;
  Ventana v(Unidades{{u'C'}}, [&](std::function<TEstadoPagina()>) {
    auto server = std::make_unique<prueba::ServidorDePrueba>();
    server->puertoOcupado = true;
    taken = server.get();
    return server;
  }, folder.path());
  EXPECT_FALSE(taken->Activo());
  EXPECT_EQ(v.form().Fila(5), u"No") << "a failed start shows as No after a load";
}

// Next to the program while it runs from its own folder; in the user's configuration folder
// once it is installed, or when its folder cannot be written.
TEST(Configuracion, TheSettingsGoToTheUsersFolderWhenTheProgramIsInstalled) {
  prueba::TempDir propia;
  const std::string programa = propia.path() + "/vertilo";
  const struct {
    const char* caso;
    std::string instalada;
    const char* xdg;
    const char* home;
    std::string esperada;
  } casos[] = {
      {"run from its folder", "/usr/bin", "/x/conf", "/home/ana", propia.path()},
      {"installed", propia.path(), "/x/conf", "/home/ana", "/x/conf/Vertilo"},
      {"installed, no XDG_CONFIG_HOME", propia.path(), nullptr, "/home/ana", "/home/ana/.config/Vertilo"},
      {"installed, a relative XDG_CONFIG_HOME is ignored", propia.path(), "conf", "/home/ana", "/home/ana/.config/Vertilo"},
  };
  for (const auto& c : casos) {
    EXPECT_EQ(CarpetaDeAjustesPara(programa, c.instalada, c.xdg, c.home), c.esperada) << c.caso;
  }
  {
    prueba::PermisosDeUsuario usuario;
    ::chmod(propia.path().c_str(), 0555);
    EXPECT_EQ(CarpetaDeAjustesPara(programa, "/usr/bin", "/x/conf", "/home/ana"), "/x/conf/Vertilo")
        << "a folder that cannot be written";
    ::chmod(propia.path().c_str(), 0755);
  }
}

}  // namespace
