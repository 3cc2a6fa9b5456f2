// Listings of drives, and jobs saved by one run and opened by the next.

#include <sys/stat.h>

#include <QTimer>

#include <chrono>

#include <gtest/gtest.h>

#include "engine/Flujos.h"
#include "tests/window/Ventana.h"

namespace {

using namespace win32;
using prueba::EsperarVentana;
using prueba::Unidades;
using prueba::Ventana;

std::vector<std::u16string> Listado(Ventana& v, char16_t letra) {
  std::vector<std::u16string> names;
  for (const auto& R : v.form().LeerListado(v.Hilo(letra))) names.push_back(R->ONombre);
  return names;
}

TEST(Listar, TheListingGrowsAndKeepsWhatWasOnceListed) {
  Ventana v(Unidades{{u'C'}, {u'X'}});
  const std::string x = v.Carpeta(u'X');
  ::mkdir((x + "/carpeta").c_str(), 0755);
  prueba::WriteFile(x + "/carpeta/uno", "1");
  prueba::WriteFile(x + "/dos", "2");
  v.Seleccionar({u'X'});
  v.form().ToolButtonListarClick();
  EXPECT_EQ(Listado(v, u'X'), (std::vector<std::u16string>{u"carpeta", u"carpeta\\uno", u"dos"}))
      << "every file and folder, sorted; not yet the listing itself";
  ::unlink((x + "/dos").c_str());
  prueba::WriteFile(x + "/tres", "3");
  v.form().ToolButtonListarClick();
  EXPECT_EQ(Listado(v, u'X'), (std::vector<std::u16string>{u"carpeta", u"carpeta\\uno", u"dos", u"tres", u"Vertilo.lst"}));
  EXPECT_TRUE(v.form().ToolBarHerramientas->isEnabled());
}

TEST(Listar, AListingOfAnotherVersionIsReplacedAndRowsAreListedInOrder) {
  Ventana v(Unidades{{u'C'}, {u'X'}, {u'Y'}});
  TMemoryStream old;
  old.EscribirEntero(1);
  old.EscribirEntero(1);
  TFRec ghost;
  ghost.ONombre = u"fantasma";
  ghost.EscribirOrigen(old);
  prueba::WriteFile(v.Carpeta(u'X') + "/Vertilo.lst", std::string(old.Bytes().begin(), old.Bytes().end()));
  prueba::WriteFile(v.Carpeta(u'X') + "/real", "r");
  prueba::WriteFile(v.Carpeta(u'Y') + "/otro", "o");
  v.Seleccionar({u'Y', u'X'});
  v.form().ToolButtonListarClick();
  EXPECT_EQ(Listado(v, u'X'), (std::vector<std::u16string>{u"real", u"Vertilo.lst"})) << "the scan alone";
  EXPECT_EQ(Listado(v, u'Y'), std::vector<std::u16string>{u"otro"});
  struct stat x {}, y {};
  ::stat((v.Carpeta(u'X') + "/Vertilo.lst").c_str(), &x);
  ::stat((v.Carpeta(u'Y') + "/Vertilo.lst").c_str(), &y);
  EXPECT_LE(std::make_pair(x.st_mtim.tv_sec, x.st_mtim.tv_nsec), std::make_pair(y.st_mtim.tv_sec, y.st_mtim.tv_nsec))
      << "row order: X is listed before Y";
}

// A close (the window's button, or SIGTERM through it) during a long listing ends the walk at
// its next progress refresh: the window goes within a second, with its settings saved.
TEST(Listar, ACloseDuringAListingEndsItAndTheSettingsAreSaved) {
  Ventana v(Unidades{{u'C'}, {u'X'}});
  const std::string x = v.Carpeta(u'X');
  for (int d = 0; d < 20; ++d) {
    ::mkdir((x + "/d" + std::to_string(d)).c_str(), 0755);
    for (int i = 0; i < 50; ++i) prueba::WriteFile(x + "/d" + std::to_string(d) + "/f" + std::to_string(i), "f");
  }
  std::chrono::steady_clock::time_point asked;
  QTimer closer;
  closer.setInterval(0);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (v.form().ProgresoTexto.empty()) return;
    closer.stop();
    asked = std::chrono::steady_clock::now();
    v.form().close();
  });
  closer.start();
  v.form().LDT = 0;  // The walk's first entry refreshes the progress.
  v.Seleccionar({u'X'});
  v.form().ToolButtonListarClick();
  ASSERT_TRUE(EsperarVentana([&] { return !v.form().TimerV->isActive(); }, 5000)) << "the window closed";
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
  struct stat st {};
  EXPECT_NE(::stat((x + "/Vertilo.lst").c_str(), &st), 0) << "the walk ended before the listing was written";
  EXPECT_EQ(::stat((v.carpetaConfig + "/Vertilo.cfg").c_str(), &st), 0) << "the settings were saved";
}

// Three drives that keep their folders and serials across two runs of the window.
class Trabajo : public ::testing::Test {
 protected:
  Unidades Todas() { return {{u'E', DRIVE_FIXED, u"", 0, 512, e.path()}, {u'F', DRIVE_FIXED, u"", 0, 512, f.path()},
                             {u'G', DRIVE_FIXED, u"", 0, 512, g.path()}}; }
  void Preparar() {
    ::mkdir((e.path() + "/Fotos").c_str(), 0755);
    for (int i = 0; i < 3; ++i) prueba::WriteFile(e.path() + "/Fotos/f" + std::to_string(i), prueba::Pattern(4000 + i, i));
  }
  prueba::TempDir e, f, g, folder;
};

TEST_F(Trabajo, ASavedJobIsCopiedByTheNextRunToTheDrivesNamedInIt) {
  Preparar();
  const std::string job = folder.path() + "/trabajo.vrtl";
  {
    Ventana first(Todas());
    int asked = 0;
    first.form().ElegirArchivo = [&](bool guardar) -> std::optional<QString> {
      ++asked;
      EXPECT_TRUE(guardar);
      return QString::fromStdString(job);
    };
    first.form().ToolButtonContinuarDetenerClick();  // Nothing is copied in this run.
    first.Seleccionar({u'F', u'G'});
    first.Soltar({e.path() + "/Fotos"});
    EXPECT_EQ(first.form().ToolButtonAbrirGuardar->ImageIndex(), 3);
    first.form().ToolButtonAbrirGuardarClick();
    const std::string saved = prueba::ReadFile(job);
    EXPECT_GT(saved.size(), 8u);
    first.form().ToolButtonAbrirGuardarClick();
    EXPECT_EQ(asked, 1) << "the second save reuses the file without the dialog";
    EXPECT_EQ(prueba::ReadFile(job), saved);
  }
  struct stat st {};
  ASSERT_NE(::stat((f.path() + "/Fotos/f0").c_str(), &st), 0) << "the first run copied nothing";
  // The second run has E and F; G is not connected.
  Ventana second(Unidades{{u'E', DRIVE_FIXED, u"", 0, 512, e.path()}, {u'F', DRIVE_FIXED, u"", 0, 512, f.path()}});
  EXPECT_EQ(second.form().ToolButtonAbrirGuardar->ImageIndex(), 2);
  second.form().ElegirArchivo = [&](bool guardar) -> std::optional<QString> {
    EXPECT_FALSE(guardar);
    return QString::fromStdString(job);
  };
  second.form().ToolButtonAbrirGuardarClick();
  EXPECT_EQ(second.form().Origen(), second.Hilo(u'E'));
  EXPECT_TRUE(second.form().ToolButtonContinuarDetener->isEnabled());
  for (int i = 0; i < 3; ++i) {
    const std::string name = "/Fotos/f" + std::to_string(i);
    EXPECT_TRUE(EsperarVentana([&] { return prueba::ReadFile(f.path() + name) == prueba::ReadFile(e.path() + name); }));
  }
  EXPECT_NE(::stat((g.path() + "/Fotos").c_str(), &st), 0);
  EXPECT_TRUE(second.mensajes.empty());
}

// A close that arrives while the first Save or Open dialog is open waits for the dialog; the
// job is then neither written from an origin that is ending nor opened.
TEST_F(Trabajo, ACloseWhileTheJobDialogIsOpenWritesAndOpensNothing) {
  Preparar();
  const std::string job = folder.path() + "/trabajo.vrtl";
  {
    Ventana v(Todas());
    v.form().ToolButtonContinuarDetenerClick();
    v.Seleccionar({u'F'});
    v.Soltar({e.path() + "/Fotos"});
    v.form().ElegirArchivo = [&](bool) -> std::optional<QString> {
      v.form().close();
      return QString::fromStdString(job);
    };
    v.form().ToolButtonAbrirGuardarClick();
    EXPECT_TRUE(EsperarVentana([&] { return !v.form().TimerV->isActive(); }, 5000)) << "the close happened after the dialog";
  }
  struct stat st {};
  EXPECT_NE(::stat(job.c_str(), &st), 0) << "nothing was saved";
  prueba::WriteFile(job, std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8));
  Ventana v(Todas());
  v.form().ElegirArchivo = [&](bool) -> std::optional<QString> {
    v.form().close();
    return QString::fromStdString(job);
  };
  v.form().ToolButtonAbrirGuardarClick();
  EXPECT_TRUE(EsperarVentana([&] { return !v.form().TimerV->isActive(); }, 5000));
  EXPECT_EQ(v.form().Origen(), nullptr);
  EXPECT_TRUE(v.mensajes.empty());
}

TEST_F(Trabajo, AJobWhoseOriginIsNotConnectedFixesNoOrigin) {
  const std::string job = folder.path() + "/trabajo.vrtl";
  TMemoryStream s;
  s.EscribirNatural(0xDEADBEEF);
  s.EscribirEntero(0);
  prueba::WriteFile(job, std::string(s.Bytes().begin(), s.Bytes().end()));
  Ventana v(Todas());
  v.form().ElegirArchivo = [&](bool) -> std::optional<QString> { return QString::fromStdString(job); };
  v.form().ToolButtonAbrirGuardarClick();
  ASSERT_EQ(v.mensajes.size(), 1u);
  EXPECT_EQ(v.mensajes[0].toStdString(), "Origen de copia no valido");
  EXPECT_EQ(v.form().Origen(), nullptr);
  EXPECT_TRUE(v.form().ToolBarHerramientas->isEnabled());
}

TEST_F(Trabajo, ADamagedJobQueuesTheRecordsBeforeTheDamageSilently) {
  Preparar();
  const std::string job = folder.path() + "/trabajo.vrtl";
  TMemoryStream s;
  s.EscribirNatural(0x100u + u'E');
  s.EscribirEntero(3);
  for (int i = 0; i < 3; ++i) {
    TFRec R;
    R.ONombre = R.DNombre = u"Fotos\\f" + std::u16string(1, static_cast<char16_t>(u'0' + i));
    R.Talla = 4000 + i;
    R.Atributos = FILE_ATTRIBUTE_ARCHIVE;
    R.EscribirOrigen(s);
    EscribirCadena(s, R.DNombre);
    s.EscribirEntero(1);
    s.EscribirNatural(0x100u + u'F');
  }
  const std::string bytes(s.Bytes().begin(), s.Bytes().end());
  prueba::WriteFile(job, bytes.substr(0, bytes.size() - 10));  // The third record is cut.
  Ventana v(Todas());
  v.form().ElegirArchivo = [&](bool) -> std::optional<QString> { return QString::fromStdString(job); };
  v.form().ToolButtonAbrirGuardarClick();
  EXPECT_TRUE(v.mensajes.empty());
  for (int i = 0; i < 2; ++i) {
    const std::string name = "/Fotos/f" + std::to_string(i);
    EXPECT_TRUE(EsperarVentana([&] { return prueba::ReadFile(f.path() + name) == prueba::ReadFile(e.path() + name); }));
  }
  prueba::Procesar(500);
  struct stat st {};
  EXPECT_NE(::stat((f.path() + "/Fotos/f2").c_str(), &st), 0);
}

}  // namespace
