// Drive discovery on an installed drive table.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>

#include <gtest/gtest.h>

#include "tests/window/Ventana.h"

namespace {

using namespace win32;
using prueba::EsperarVentana;
using prueba::Unidad;
using prueba::Ventana;

std::vector<char16_t> Letras(TFormDList& form) {
  std::vector<char16_t> out;
  for (TDHilo* worker : form.Dispositivos()) out.push_back(worker->GetAppRec().Letra);
  return out;
}

TEST(Descubrimiento, OnlyRemovableFixedAndRemoteDrivesAreListedWithTheirNames) {
  Ventana v(prueba::Unidades{{u'C', DRIVE_FIXED}, {u'D', DRIVE_CDROM}, {u'E', DRIVE_REMOVABLE}, {u'F', DRIVE_RAMDISK},
             {u'G', DRIVE_REMOTE}, {u'H', DRIVE_UNKNOWN}, {u'I', DRIVE_FIXED, u"Datos"}});
  EXPECT_EQ(Letras(v.form()), (std::vector<char16_t>{u'C', u'E', u'G', u'I'}));
  EXPECT_EQ(v.form().DListBox->count(), 4);
  EXPECT_EQ(v.Hilo(u'C')->Identidad().Nombre, u"Disco local");
  EXPECT_EQ(v.Hilo(u'E')->Identidad().Nombre, u"Disco extraible");
  EXPECT_EQ(v.Hilo(u'G')->Identidad().Nombre, u"Disco remoto");
  EXPECT_EQ(v.Hilo(u'I')->Identidad().Nombre, u"Datos");
  EXPECT_EQ(v.form().DListBox->item(1)->toolTip().toStdString(), v.Carpeta(u'E')) << "the row shows its mount point";
  // The last row is focused and selected after the window is made.
  EXPECT_EQ(v.form().DListBox->currentRow(), 3);
  EXPECT_TRUE(v.form().DListBox->item(3)->isSelected());
  EXPECT_TRUE(v.form().ToolButtonCancelar->isEnabled());
}

TEST(Descubrimiento, ANewDriveGetsAWorkerAndAVolumeWithSerialZeroNone) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E', DRIVE_REMOVABLE}});
  TDHilo* c = v.Hilo(u'C');
  v.CambiarUnidades(prueba::Unidades{{u'C'}, {u'E', DRIVE_REMOVABLE}, {u'F', DRIVE_REMOVABLE, u"Nueva"}});
  v.form().ToolButtonActualizarClick();
  EXPECT_EQ(Letras(v.form()), (std::vector<char16_t>{u'C', u'E', u'F'}));
  EXPECT_EQ(v.Hilo(u'C'), c) << "a known drive keeps its worker";
  EXPECT_TRUE(EsperarVentana([&] { return v.Hilo(u'F')->Identidad().Nombre == u"Nueva"; }));
}

TEST(Descubrimiento, ADriveThatChangedLetterKeepsItsWorkerAndSelection) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E', DRIVE_REMOVABLE, u"Llave", 0x55}, {u'F'}});
  TDHilo* stick = v.Hilo(u'E');
  v.Seleccionar({u'E'});
  v.CambiarUnidades(prueba::Unidades{{u'C'}, {u'F'}, {u'K', DRIVE_REMOVABLE, u"Llave", 0x55}});
  v.form().ToolButtonActualizarClick();
  EXPECT_EQ(Letras(v.form()), (std::vector<char16_t>{u'C', u'F', u'K'}));
  EXPECT_EQ(v.form().Dispositivos()[2], stick);
  EXPECT_TRUE(v.form().DListBox->item(2)->isSelected());
  EXPECT_FALSE(v.form().DListBox->item(1)->isSelected());
  EXPECT_TRUE(EsperarVentana([&] { return stick->Identidad().Letra == u'K'; }));
}

// Sticks cloned from one image share their serial. Each keeps a worker of its own, told
// apart by its letter, and each takes a drop.
TEST(Descubrimiento, TwoVolumesWithOneSerialKeepAWorkerEach) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E', DRIVE_REMOVABLE, u"", 0x99}, {u'F', DRIVE_REMOVABLE, u"", 0x99}});
  ASSERT_EQ(v.form().Dispositivos().size(), 3u);
  TDHilo* e = v.Hilo(u'E');
  TDHilo* f = v.Hilo(u'F');
  ASSERT_NE(e, f);
  for (int pass = 0; pass < 2; ++pass) {
    v.form().ToolButtonActualizarClick();
    ASSERT_EQ(Letras(v.form()), (std::vector<char16_t>{u'C', u'E', u'F'}));
    EXPECT_EQ(v.Hilo(u'E'), e);
    EXPECT_EQ(v.Hilo(u'F'), f);
  }
  prueba::WriteFile(v.Carpeta(u'C') + "/clase.pdf", prueba::Pattern(7000, 4));
  v.Seleccionar({u'E', u'F'});
  v.Soltar({v.Carpeta(u'C') + "/clase.pdf"});
  for (char16_t d : {u'E', u'F'}) {
    EXPECT_TRUE(EsperarVentana([&] { return prueba::ReadFile(v.Carpeta(d) + "/clase.pdf") == prueba::Pattern(7000, 4); }))
        << char(d);
  }
  // One of them pulled: only its worker goes.
  v.CambiarUnidades(prueba::Unidades{{u'C'}, {u'E', DRIVE_REMOVABLE, u"", 0x99}});
  v.form().ToolButtonActualizarClick();
  EXPECT_EQ(Letras(v.form()), (std::vector<char16_t>{u'C', u'E'}));
  EXPECT_EQ(v.Hilo(u'E'), e);
}

TEST(Descubrimiento, FocusFollowsTheDriveOrFallsToTheLastRow) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E'}, {u'F'}, {u'G'}});
  v.form().DListBox->setCurrentRow(1);
  v.form().ToolButtonActualizarClick();
  EXPECT_EQ(v.form().DListBox->currentRow(), 1) << "the focused drive keeps the focus";
  v.CambiarUnidades(prueba::Unidades{{u'C'}, {u'F'}, {u'G'}});
  v.form().ToolButtonActualizarClick();
  EXPECT_EQ(v.form().DListBox->currentRow(), 2) << "its drive vanished: the last row";
  v.form().DListBox->setCurrentRow(-1);
  v.form().ToolButtonActualizarClick();
  EXPECT_EQ(v.form().DListBox->currentRow(), 2) << "no focus before: the last row";
}

TEST(Descubrimiento, TheLargestSectorSizeGoesToEveryWorker) {
  Ventana v(prueba::Unidades{{u'C', DRIVE_FIXED, u"", 0, 512}, {u'E', DRIVE_FIXED, u"", 0, 4096}});
  EXPECT_EQ(v.Hilo(u'C')->GetAppRec().MaxSectorSize, 4096u);
  v.CambiarUnidades(prueba::Unidades{{u'C', DRIVE_FIXED, u"", 0, 512}, {u'E', DRIVE_FIXED, u"", 0, 8192}});
  v.form().ToolButtonActualizarClick();
  EXPECT_EQ(v.Hilo(u'C')->GetAppRec().MaxSectorSize, 8192u);
  EXPECT_EQ(v.Hilo(u'C')->GetAppRec().SectorSize, 512u);
}

TEST(Descubrimiento, AVanishedDestinationLeavesThePendingRecordsBeforeItsRow) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E'}, {u'F'}});
  TDHilo* E = v.Hilo(u'E');
  TDHilo* F = v.Hilo(u'F');
  v.form().AsignarOrigen(E);
  E->Suspend();  // The record stays in the list while the window works.
  auto R = std::make_unique<TFRec>();
  R->ONombre = R->DNombre = u"archivo";
  R->Talla = 1000;
  R->DList = {F};
  E->AddDFin(1024);
  E->FList.Add(std::move(R));
  v.CambiarUnidades(prueba::Unidades{{u'C'}, {u'E'}});
  v.form().ToolButtonActualizarClick();
  EXPECT_EQ(Letras(v.form()), (std::vector<char16_t>{u'C', u'E'}));
  EXPECT_TRUE(E->FList.Con([](auto& fl) { return fl.empty(); })) << "the record had no other destination";
  E->Resume();
  EXPECT_TRUE(EsperarVentana([&] { return E->GetDFin() == 0; })) << "its size left the origin's total";
}

TEST(Descubrimiento, TheOriginStaysWhenItsDriveIsGoneAndSortsFirst) {
  Ventana v(prueba::Unidades{{u'C'}, {u'E'}, {u'F'}});
  TDHilo* F = v.Hilo(u'F');
  v.form().AsignarOrigen(F);
  EXPECT_EQ(v.form().windowTitle().toStdString(), "Vertilo leyendo desde [Disco local]");
  EXPECT_EQ(v.form().ToolButtonAbrirGuardar->ImageIndex(), 3);
  v.CambiarUnidades(prueba::Unidades{{u'C'}, {u'E'}});
  v.form().ToolButtonActualizarClick();
  ASSERT_EQ(v.form().Dispositivos().size(), 3u);
  EXPECT_EQ(v.form().Dispositivos()[0], F);
  EXPECT_EQ(F->Orden, 0);
  // A drive found later joins as a destination of that origin.
  v.CambiarUnidades(prueba::Unidades{{u'C'}, {u'E'}, {u'H'}});
  v.form().ToolButtonActualizarClick();
  TDHilo* H = v.Hilo(u'H');
  ASSERT_NE(H, nullptr);
  EXPECT_EQ(H->GetOD(), F);
}

// New workers adopt their serial on their own threads while the window sorts by it. The list
// keeps the serial each had when it was made, so it is sorted by what it holds.
TEST(Descubrimiento, TheIDListIsSortedByTheSerialsItHolds) {
  Ventana v(prueba::Unidades{{u'C'}, {u'D'}, {u'E'}, {u'F'}, {u'G'}, {u'H'}});
  std::uint32_t next = 1;
  for (int round = 0; round < 200; ++round) {
    for (TDHilo* worker : v.form().Dispositivos()) {
      THRec rec = worker->GetAppRec();
      rec.ID = (next++ * 2654435761u) | 1;
      worker->SetAppRec(rec);
    }
    const TListaPorID list = v.form().ListaPorID();
    ASSERT_EQ(list.size(), v.form().Dispositivos().size());
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.first < b.first; }));
    for (TDHilo* worker : v.form().Dispositivos()) {
      EXPECT_EQ(std::count_if(list.begin(), list.end(), [&](const auto& e) { return e.second == worker; }), 1);
    }
    if (round % 20 == 0) prueba::Procesar(1);
  }
}

// A stick mounted while the program runs gets its row without a click and takes a drop; when
// it is unmounted its row goes. The mount is real (a loop volume, bound where the drive table
// expects drive F), so the window hears of it from the kernel's mount table.
TEST(Descubrimiento, AStickMountedWhileRunningGetsItsRowAndTakesADrop) {
  prueba::LoopVolume stick("ext4", 32, 512, "LLAVE");
  if (!stick.ok()) GTEST_SKIP() << stick.error();
  prueba::TempDir sitio;
  const std::string punto = sitio / "llave";
  Ventana v(prueba::Unidades{{u'E'}, {u'F', DRIVE_REMOVABLE, u"LLAVE", 0x77, 512, punto}});
  EXPECT_EQ(Letras(v.form()), (std::vector<char16_t>{u'E'})) << "not mounted yet";
  ::mkdir(punto.c_str(), 0755);
  ASSERT_EQ(prueba::Run("mount --bind '" + stick.mountPoint() + "' '" + punto + "'"), 0);
  EXPECT_TRUE(EsperarVentana([&] { return Letras(v.form()) == std::vector<char16_t>{u'E', u'F'}; }, 10000))
      << "no row for the stick without a click";
  prueba::WriteFile(v.Carpeta(u'E') + "/foto.jpg", prueba::Pattern(300000, 9));
  v.Seleccionar({u'F'});
  v.Soltar({v.Carpeta(u'E') + "/foto.jpg"});
  EXPECT_TRUE(EsperarVentana([&] {
    return prueba::ReadFile(punto + "/foto.jpg") == prueba::ReadFile(v.Carpeta(u'E') + "/foto.jpg") &&
           v.Hilo(u'F')->GetDPos() == v.Hilo(u'F')->GetDFin();
  })) << "the drop did not reach the stick";
  ASSERT_EQ(prueba::Run("umount '" + punto + "'"), 0);
  ::rmdir(punto.c_str());
  EXPECT_TRUE(EsperarVentana([&] { return Letras(v.form()) == std::vector<char16_t>{u'E'}; }, 10000))
      << "the pulled stick kept its row";
}

// The origin pulled in the middle of a copy (a lazy unmount: the file being read still
// reads, every later open fails). The destinations end their open files as incomplete, so no
// copy is left cut short; the window goes on answering, its destinations can be cancelled,
// and it closes.
TEST(Descubrimiento, AnOriginPulledMidCopyLeavesNoCutCopyAndTheWindowGoesOn) {
  prueba::LoopVolume fuente("ext4", 256, 512, "FOTOS");
  if (!fuente.ok()) GTEST_SKIP() << fuente.error();
  prueba::TempDir sitio;
  const std::string punto = sitio / "fotos";
  ::mkdir(punto.c_str(), 0755);
  ASSERT_EQ(prueba::Run("mount --bind '" + fuente.mountPoint() + "' '" + punto + "'"), 0);
  std::vector<std::string> nombres;
  for (int i = 0; i < 24; ++i) {
    nombres.push_back("foto" + std::to_string(i) + ".raw");
    prueba::WriteFile(punto + "/" + nombres.back(), prueba::Pattern(6 * 1024 * 1024 + i, 40 + i));
  }
  std::map<std::string, std::string> originales;
  for (const std::string& n : nombres) originales[n] = prueba::ReadFile(punto + "/" + n);
  prueba::Run("sync; echo 3 > /proc/sys/vm/drop_caches");
  auto v = std::make_unique<Ventana>(
      prueba::Unidades{{u'E', DRIVE_REMOVABLE, u"FOTOS", 0x91, 512, punto}, {u'F', DRIVE_REMOVABLE}, {u'G', DRIVE_REMOVABLE}});
  v->form().Ajustes().TiempoError = 500;
  v->Seleccionar({u'F', u'G'});
  std::vector<std::string> caminos;
  for (const std::string& n : nombres) caminos.push_back(punto + "/" + n);
  v->Soltar(caminos);
  ASSERT_TRUE(EsperarVentana([&] { return v->Hilo(u'F')->GetDPos() > 0; })) << "the copy did not start";
  ASSERT_EQ(prueba::Run("umount -l '" + punto + "'"), 0);
  // Every file that is on a destination is whole; what was cut is gone.
  const auto sinCortes = [&] {
    for (char16_t letra : {u'F', u'G'}) {
      for (const std::string& n : nombres) {
        const std::string copia = v->Carpeta(letra) + "/" + n;
        if (::access(copia.c_str(), F_OK) == 0 && prueba::ReadFile(copia) != originales[n]) return false;
      }
    }
    return true;
  };
  EXPECT_TRUE(EsperarVentana(sinCortes, 20000)) << "a copy cut short stays on a destination";
  EXPECT_TRUE(EsperarVentana([&] { return v->Hilo(u'E')->GetLEC() != 0; }, 10000)) << "the origin's row shows no error";
  prueba::Procesar(1500);
  EXPECT_TRUE(sinCortes()) << "a retry left a cut copy";
  int llegados = 0;
  for (const std::string& n : nombres) llegados += ::access((v->Carpeta(u'F') + "/" + n).c_str(), F_OK) == 0;
  EXPECT_LT(llegados, static_cast<int>(nombres.size())) << "the copy ended before the pull";
  const std::int64_t antes = TDHilo::Vivos();
  v->Seleccionar({u'F', u'G'});
  v->form().ToolButtonCancelarClick();
  EXPECT_TRUE(EsperarVentana([&] { return TDHilo::Vivos() == antes - 2; }, 10000)) << "the destinations did not end";
  const auto start = std::chrono::steady_clock::now();
  v.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "the window did not close";
  ::rmdir(punto.c_str());
}

}  // namespace
