// Drops of real folders and files onto the list, in add mode and in remove mode, until the
// copies (or the deletions) are on the drives.

#include <fcntl.h>
#include <sys/stat.h>

#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include "engine/OperacionesOrigen.h"

#include "engine/OperacionesDestino.h"
#include "platform/strings.h"
#include "tests/window/Ventana.h"

namespace {

using namespace win32;
using prueba::EsperarVentana;
using prueba::Procesar;
using prueba::Unidades;
using prueba::Ventana;

// 6 October 2016 12:34:20 UTC.
constexpr time_t kHora = 1475757260;

void Fechar(const std::string& path, time_t when = kHora) {
  timespec times[2] = {{when, 0}, {when, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool Existe(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class Soltar : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string e = v.Carpeta(u'E');
    for (const char* folder : {"/Fotos", "/Fotos/2016", "/Fotos/2016/sub", "/Fotos/2016/vacia"}) ::mkdir((e + folder).c_str(), 0755);
    prueba::WriteFile(e + "/Fotos/2016/a.jpg", prueba::Pattern(3 * 1048576 + 17, 1));
    prueba::WriteFile(e + "/Fotos/2016/b.jpg", prueba::Pattern(5000, 2));
    prueba::WriteFile(e + "/Fotos/2016/sub/c.txt", "ce");
    prueba::WriteFile(e + "/Fotos/2016/cero", "");
    prueba::WriteFile(e + "/Libro.pdf", prueba::Pattern(2000, 3));
    for (const char* file : {"/Fotos/2016/a.jpg", "/Fotos/2016/b.jpg", "/Fotos/2016/sub/c.txt", "/Fotos/2016/cero", "/Libro.pdf"}) {
      Fechar(e + file);
    }
  }
  std::string E(const std::string& rel) { return v.Carpeta(u'E') + "/" + rel; }
  std::string D(char16_t d, const std::string& rel) { return v.Carpeta(d) + "/" + rel; }
  // The copy has the source's bytes and last-write time.
  bool Copiado(const std::string& from, const std::string& to) {
    struct stat a {}, b {};
    if (::stat(from.c_str(), &a) != 0 || ::stat(to.c_str(), &b) != 0) return false;
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && prueba::ReadFile(from) == prueba::ReadFile(to);
  }
  std::vector<std::pair<std::u16string, std::vector<TDHilo*>>> Cola() {
    return v.form().Origen()->FList.Con([](auto& fl) {
      std::vector<std::pair<std::u16string, std::vector<TDHilo*>>> out;
      for (const auto& R : fl) out.push_back({R->DNombre, R->DList});
      return out;
    });
  }
  Ventana v{Unidades{{u'C'}, {u'E'}, {u'F'}, {u'G'}}};
};

TEST_F(Soltar, TheSourcePathIsRebuiltOnEveryDestination) {
  v.Seleccionar({u'F', u'G'});
  v.Soltar({E("Fotos/2016")});
  EXPECT_EQ(v.form().Origen(), v.Hilo(u'E'));
  for (char16_t d : {u'F', u'G'}) {
    for (const char* file : {"Fotos/2016/a.jpg", "Fotos/2016/b.jpg", "Fotos/2016/sub/c.txt", "Fotos/2016/cero"}) {
      EXPECT_TRUE(EsperarVentana([&] { return Copiado(E(file), D(d, file)); })) << file << " on " << char(d);
    }
    EXPECT_TRUE(Existe(D(d, "Fotos/2016/vacia")));
  }
  EXPECT_TRUE(v.form().ToolButtonContinuarDetener->isEnabled());
  EXPECT_TRUE(v.form().ToolButtonPriorizar->isEnabled());
}

TEST_F(Soltar, WithoutTheSourcePathItemsLandInTheRoot) {
  v.form().ValidarVariable(3, u"No");
  v.Seleccionar({u'F'});
  // Items from two folders at once, as a search's results give them.
  v.Soltar({E("Fotos/2016"), E("Libro.pdf")});
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/sub/c.txt"), D(u'F', "2016/sub/c.txt")); }));
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Libro.pdf"), D(u'F', "Libro.pdf")); }));
  EXPECT_FALSE(Existe(D(u'F', "Fotos")));
}

TEST_F(Soltar, ARedroppedFolderStillQueuedGetsOnlyTheNewDestinations) {
  v.form().ToolButtonContinuarDetenerClick();  // Everything waits while the test looks.
  v.Seleccionar({u'F'});
  v.Soltar({E("Fotos/2016")});
  const auto first = Cola();
  ASSERT_EQ(first.size(), 7u) << "the folder and everything below it";
  v.Seleccionar({u'F', u'G'});
  v.Soltar({E("Fotos/2016")});
  const auto second = Cola();
  ASSERT_EQ(second.size(), 7u) << "no second record";
  for (auto [name, destinations] : second) {
    // The closing Priorizar may have put the focused drive first.
    std::sort(destinations.begin(), destinations.end());
    std::vector<TDHilo*> both = {v.Hilo(u'F'), v.Hilo(u'G')};
    std::sort(both.begin(), both.end());
    EXPECT_EQ(destinations, both) << std::string(name.begin(), name.end());
  }
  ASSERT_TRUE(EsperarVentana([&] { return v.form().ToolButtonContinuarDetener->isEnabled(); }, 2000));
  v.form().ToolButtonContinuarDetenerClick();
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/a.jpg"), D(u'G', "Fotos/2016/a.jpg")); }));
}

TEST_F(Soltar, WhatADestinationHoldsOrListsIsNotSentAgain) {
  v.form().ToolButtonContinuarDetenerClick();
  // F's listing names a.jpg; F already holds b.jpg (same size, same minute) and an older,
  // shorter c.txt, and the folder sub.
  {
    v.Seleccionar({});
    v.Soltar({E("Libro.pdf")});  // Fixes E as the origin.
    TListaRegistros listed;
    auto R = std::make_unique<TFRec>();
    R->ONombre = u"FOTOS\\2016\\A.JPG";  // The listing is compared without regard to case.
    listed.push_back(std::move(R));
    v.form().GuardarListado(v.Hilo(u'F'), listed);
  }
  for (const char* folder : {"/Fotos", "/Fotos/2016", "/Fotos/2016/sub"}) ::mkdir((v.Carpeta(u'F') + folder).c_str(), 0755);
  prueba::WriteFile(D(u'F', "Fotos/2016/b.jpg"), prueba::Pattern(5000, 99));
  Fechar(D(u'F', "Fotos/2016/b.jpg"), kHora + 30);  // Other seconds, same minute.
  prueba::WriteFile(D(u'F', "Fotos/2016/sub/c.txt"), "c");
  Fechar(D(u'F', "Fotos/2016/sub/c.txt"));
  v.Seleccionar({u'F', u'G'});
  v.Soltar({E("Fotos/2016")});
  std::map<std::u16string, std::vector<TDHilo*>> queued;
  for (const auto& [name, destinations] : Cola()) queued[name] = destinations;
  TDHilo* G = v.Hilo(u'G');
  EXPECT_EQ(queued[u"Fotos\\2016\\a.jpg"], std::vector<TDHilo*>{G}) << "listed on F";
  EXPECT_EQ(queued[u"Fotos\\2016\\b.jpg"], std::vector<TDHilo*>{G}) << "the same file is on F";
  EXPECT_EQ(queued[u"Fotos\\2016\\sub"], std::vector<TDHilo*>{G}) << "the folder exists on F";
  EXPECT_EQ(queued[u"Fotos\\2016\\sub\\c.txt"].size(), 2u) << "another size";
  ASSERT_TRUE(EsperarVentana([&] { return v.form().ToolButtonContinuarDetener->isEnabled(); }, 2000));
  v.form().ToolButtonContinuarDetenerClick();
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/sub/c.txt"), D(u'F', "Fotos/2016/sub/c.txt")); }));
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/a.jpg"), D(u'G', "Fotos/2016/a.jpg")); }));
  EXPECT_FALSE(Existe(D(u'F', "Fotos/2016/a.jpg")));
  EXPECT_EQ(prueba::ReadFile(D(u'F', "Fotos/2016/b.jpg")), prueba::Pattern(5000, 99));
}

TEST_F(Soltar, TheFirstDropFixesTheOriginAndOtherDrivesAreRefused) {
  v.Seleccionar({});
  v.Soltar({E("Libro.pdf")});
  EXPECT_EQ(v.form().Origen(), v.Hilo(u'E')) << "even without destinations";
  EXPECT_TRUE(v.mensajes.empty());
  prueba::WriteFile(D(u'F', "otro.txt"), "x");
  v.Seleccionar({u'G'});
  v.Soltar({D(u'F', "otro.txt")});
  ASSERT_EQ(v.mensajes.size(), 1u);
  EXPECT_EQ(v.mensajes[0].toStdString(), "Origen de copia no valido");
  v.form().WMDropFiles({u"e:\\Libro.pdf"});
  EXPECT_EQ(v.mensajes.size(), 2u) << "the letter is compared as written";
  v.Soltar({"/nowhere/near/a/drive"});
  EXPECT_EQ(v.mensajes.size(), 3u);
  EXPECT_FALSE(Existe(D(u'G', "otro.txt")));
}

// Linux allows "?" in names. The dropped item is looked up by its exact name, not as a
// pattern that also matches the file beside it.
TEST_F(Soltar, ANameWithAQuestionMarkIsCopiedAsItself) {
  prueba::WriteFile(E("Informe?.pdf"), prueba::Pattern(100, 12));
  Fechar(E("Informe?.pdf"));
  // Look-alikes made after it, which a pattern would match as well, whatever the folder's order.
  for (char c = 'A'; c <= 'Z'; ++c) prueba::WriteFile(E(std::string("Informe") + c + ".pdf"), prueba::Pattern(9000, 11));
  const TListaRegistros records = v.form().CrearListaArrastre({*win32::DrivePath(E("Informe?.pdf"))});
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]->Talla, 100) << "the record is the dropped file's, not a look-alike's";
  v.Seleccionar({u'F'});
  v.Soltar({E("Informe?.pdf")});
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Informe?.pdf"), D(u'F', "Informe?.pdf")); }));
  EXPECT_FALSE(Existe(D(u'F', "InformeA.pdf")));
}

// The file manager's drag ends with the event: the drop is taken as a copy (whatever it
// proposed) and handled afterwards, message boxes included.
TEST_F(Soltar, ADropIsAcceptedAsACopyAndHandledAfterTheEvent) {
  v.Seleccionar({u'F'});
  auto* data = new QMimeData;
  data->setUrls({QUrl::fromLocalFile(QString::fromStdString(E("Libro.pdf")))});
  QWidget* target = v.form().DListBox->viewport();
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(drop.dropAction(), Qt::CopyAction) << "never a move";
  EXPECT_EQ(v.form().Origen(), nullptr) << "nothing was done inside the event";
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Libro.pdf"), D(u'F', "Libro.pdf")); }));
  EXPECT_EQ(v.form().Origen(), v.Hilo(u'E'));
  // A refused drop shows its message only after the event, too.
  prueba::WriteFile(D(u'G', "otro.txt"), "x");
  data->setUrls({QUrl::fromLocalFile(QString::fromStdString(D(u'G', "otro.txt")))});
  QDragEnterEvent again(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &again);
  QDropEvent refused(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &refused);
  EXPECT_TRUE(v.mensajes.empty());
  EXPECT_TRUE(EsperarVentana([&] { return v.mensajes.size() == 1; }));
  delete data;
}

// A search's results can mix drives. Only the items on the origin's drive are read; the
// others are left out and counted in the message.
TEST_F(Soltar, ItemsFromAnotherDriveAreLeftOutAndCounted) {
  prueba::WriteFile(D(u'G', "ajeno.txt"), "de otra unidad");
  v.Seleccionar({u'F'});
  v.Soltar({E("Libro.pdf"), D(u'G', "ajeno.txt"), E("Fotos/2016/b.jpg")});
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Libro.pdf"), D(u'F', "Libro.pdf")); }));
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/b.jpg"), D(u'F', "Fotos/2016/b.jpg")); }));
  ASSERT_EQ(v.mensajes.size(), 1u);
  EXPECT_TRUE(v.mensajes[0].startsWith(QStringLiteral("Origen de copia no valido")));
  EXPECT_TRUE(v.mensajes[0].contains(QStringLiteral("1 de 3"))) << v.mensajes[0].toStdString();
  Procesar(500);
  EXPECT_FALSE(Existe(D(u'F', "ajeno.txt")));
  EXPECT_EQ(v.Hilo(u'E')->GetLEC(), 0u) << "the origin never looked for it on its own drive";
  EXPECT_TRUE(Cola().empty());
}

// A drop cut short in its walk leaves nothing behind: the next walk of the same tree sees
// all of it.
TEST_F(Soltar, AnInterruptedDropLeavesNothingForTheNextWalk) {
  for (int i = 0; i < 40; ++i) prueba::WriteFile(E("Fotos/2016/sub/n" + std::to_string(i)), "n");
  QTimer interrupter;
  interrupter.setInterval(0);
  QObject::connect(&interrupter, &QTimer::timeout, [&] {
    if (v.form().ProgresoTexto.empty()) return;
    v.form().Interrumpir();
    interrupter.stop();
  });
  interrupter.start();
  v.form().LDT = 0;  // The walk's first entry refreshes the progress.
  v.Seleccionar({u'F'});
  v.Soltar({E("Fotos")});
  EXPECT_FALSE(interrupter.isActive()) << "the walk was interrupted";
  EXPECT_TRUE(Cola().empty()) << "an interrupted drop queues nothing";
  Procesar(300);
  EXPECT_FALSE(Existe(D(u'F', "Fotos")));
  v.Seleccionar({u'F'});
  v.Soltar({E("Fotos")});
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/sub/n39"), D(u'F', "Fotos/2016/sub/n39")); }));
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/a.jpg"), D(u'F', "Fotos/2016/a.jpg")); }));
}

TEST_F(Soltar, TheOriginAndDrivesInErrorAreUnselectedAndGetNothing) {
  v.form().Ajustes().TiempoError = 300;
  v.Seleccionar({});
  v.Soltar({E("Libro.pdf")});
  auto create = std::make_unique<TArchivoAusente>();
  create->DNombre = u"..\\fuera";
  v.Hilo(u'F')->IOList.Add(std::move(create));
  ASSERT_TRUE(EsperarVentana([&] { return v.Hilo(u'F')->GetLEC() != 0; }));
  v.Seleccionar({u'E', u'F', u'G'});
  v.Soltar({E("Fotos/2016/b.jpg"), E("does-not-exist.txt")});
  EXPECT_FALSE(v.form().DListBox->item(v.Fila(u'E'))->isSelected());
  EXPECT_FALSE(v.form().DListBox->item(v.Fila(u'F'))->isSelected());
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/b.jpg"), D(u'G', "Fotos/2016/b.jpg")); }));
  EXPECT_FALSE(Existe(D(u'F', "Fotos/2016/b.jpg")));
  EXPECT_FALSE(Existe(D(u'G', "does-not-exist.txt"))) << "a vanished item is skipped";
}

TEST_F(Soltar, RemoveModeDeletesTheDroppedTreeOnTheSelectedDrivesOnly) {
  v.Seleccionar({u'F', u'G'});
  v.Soltar({E("Fotos")});
  for (char16_t d : {u'F', u'G'}) {
    ASSERT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/a.jpg"), D(d, "Fotos/2016/a.jpg")); }));
    ASSERT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/sub/c.txt"), D(d, "Fotos/2016/sub/c.txt")); }));
  }
  prueba::WriteFile(D(u'F', "Fotos/2016/extra.txt"), "not dropped");
  TListaRegistros listed;
  auto R = std::make_unique<TFRec>();
  R->ONombre = u"x";
  listed.push_back(std::move(R));
  v.form().GuardarListado(v.Hilo(u'F'), listed);
  const std::string listing = prueba::ReadFile(D(u'F', "Vertilo.lst"));
  v.form().ToolButtonSumarRestarClick();
  v.Seleccionar({u'F'});
  v.Soltar({E("Fotos")});
  EXPECT_EQ(v.form().ToolButtonSumarRestar->ImageIndex(), 7) << "back to add mode";
  EXPECT_FALSE(Existe(D(u'F', "Fotos/2016/a.jpg")));
  EXPECT_FALSE(Existe(D(u'F', "Fotos/2016/sub"))) << "emptied folders go after their content";
  EXPECT_TRUE(Existe(D(u'F', "Fotos/2016/extra.txt")));
  EXPECT_TRUE(Existe(D(u'F', "Fotos/2016"))) << "a folder with other files stays";
  EXPECT_TRUE(Copiado(E("Fotos/2016/a.jpg"), D(u'G', "Fotos/2016/a.jpg"))) << "not selected, not touched";
  EXPECT_TRUE(Existe(E("Fotos/2016/a.jpg"))) << "the origin is never modified";
  EXPECT_EQ(prueba::ReadFile(D(u'F', "Vertilo.lst")), listing) << "listings are left alone";
}

TEST_F(Soltar, RemoveModeWithdrawsTheWaitingCopies) {
  v.Seleccionar({});
  v.Soltar({E("Libro.pdf")});
  v.form().ToolButtonContinuarDetenerClick();
  TDHilo* origin = v.Hilo(u'E');
  v.Seleccionar({u'F'});
  v.Soltar({E("Fotos/2016/sub")});
  v.Seleccionar({u'F', u'G'});
  v.Soltar({E("Fotos/2016/b.jpg")});
  ASSERT_EQ(Cola().size(), 3u);
  v.form().ToolButtonSumarRestarClick();
  v.Seleccionar({u'F'});
  v.Soltar({E("Fotos/2016/sub"), E("Fotos/2016/b.jpg")});
  const auto left = Cola();
  ASSERT_EQ(left.size(), 1u) << "sub and c.txt lost their only destination";
  EXPECT_EQ(left[0].first, u"Fotos\\2016\\b.jpg");
  EXPECT_EQ(left[0].second, std::vector<TDHilo*>{v.Hilo(u'G')});
  ASSERT_TRUE(EsperarVentana([&] { return v.form().ToolButtonContinuarDetener->isEnabled(); }, 2000));
  v.form().ToolButtonContinuarDetenerClick();
  EXPECT_TRUE(EsperarVentana([&] { return Copiado(E("Fotos/2016/b.jpg"), D(u'G', "Fotos/2016/b.jpg")); }));
  EXPECT_TRUE(EsperarVentana([&] { return origin->GetDPos() == origin->GetDFin(); })) << "the origin's total dropped";
  EXPECT_FALSE(Existe(D(u'F', "Fotos/2016/sub/c.txt")));
}

}  // namespace
