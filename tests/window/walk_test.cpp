// The folder walk, the record orders and the search by name, and listing files.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/window/Ventana.h"

namespace {

using namespace win32;
using prueba::Unidades;
using prueba::Ventana;

TFRec Registro(const std::u16string& name) {
  TFRec R;
  R.ONombre = name;
  return R;
}

TEST(Orden, CaseBlindOnlyForAsciiLettersAndShorterFirst) {
  const struct {
    std::u16string a, b;
    int sign;
  } cases[] = {{u"abc", u"ABC", 0}, {u"ax", u"_x", -1}, {u"ab", u"abc", -1}, {u"b", u"A", 1},
               {u"ñ", u"Ñ", 1}, {u"a\\b", u"a\\c", -1}, {u"", u"a", -1}};
  for (const auto& c : cases) {
    const int order = CompararNombre(Registro(c.a), Registro(c.b));
    EXPECT_EQ((order > 0) - (order < 0), c.sign) << std::string(c.a.begin(), c.a.end());
  }
  EXPECT_GT(CompararLongitud(Registro(u"a"), Registro(u"abc")), 0) << "longest first";
}

TEST(Orden, BuscarFRFindsTheFrontmostOfEqualNames) {
  EXPECT_EQ(BuscarFR({}, u"x"), nullptr);
  TFRec a = Registro(u"a"), b1 = Registro(u"B"), b2 = Registro(u"b"), c = Registro(u"c");
  const std::vector<TFRec*> sorted = {&a, &b1, &b2, &c};
  EXPECT_EQ(BuscarFR(sorted, u"b"), &b1);
  EXPECT_EQ(BuscarFR(sorted, u"C"), &c);
  EXPECT_EQ(BuscarFR(sorted, u"bb"), nullptr);
}

class Recorrido : public ::testing::Test {
 protected:
  std::string X(const std::string& rel) { return v.Carpeta(u'X') + "/" + rel; }
  std::vector<std::u16string> Nombres(const TListaRegistros& list) {
    std::vector<std::u16string> out;
    for (const auto& R : list) out.push_back(R->ONombre);
    std::sort(out.begin(), out.end());
    return out;
  }
  TListaRegistros Arbol(const std::u16string& folder) {
    TListaRegistros list;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(u"\\\\?\\X:\\" + folder, &data);
    if (find != INVALID_HANDLE_VALUE) {
      FindClose(find);
      v.form().AgregarArchivo(list, u"X:\\" + folder, data, 3);
    }
    return list;
  }
  Ventana v{Unidades{{u'X'}}};
};

TEST_F(Recorrido, AFolderComesBeforeItsContentAndNothingIsFilteredOut) {
  for (const char* folder : {"a", "a/.oculta", "a/vacia"}) ::mkdir(X(folder).c_str(), 0755);
  prueba::WriteFile(X("a/.oculto"), "x");
  prueba::WriteFile(X("a/.oculta/f"), "y");
  prueba::WriteFile(X("a/grande"), "");
  ASSERT_EQ(::truncate(X("a/grande").c_str(), 5LL << 30), 0);
  const TListaRegistros list = Arbol(u"a");
  EXPECT_EQ(Nombres(list), (std::vector<std::u16string>{u"a", u"a\\.oculta", u"a\\.oculta\\f", u"a\\.oculto",
                                                       u"a\\grande", u"a\\vacia"}));
  EXPECT_EQ(list[0]->ONombre, u"a");
  for (const auto& R : list) {
    if (R->ONombre == u"a\\grande") {
      EXPECT_EQ(R->Talla, 5LL << 30) << "a 64-bit size";
    }
    if (R->ONombre == u"a\\.oculto") {
      EXPECT_NE(R->Atributos & FILE_ATTRIBUTE_HIDDEN, 0u);
    }
  }
  EXPECT_EQ(Arbol(u"a\\vacia").size(), 1u) << "an empty folder is its own record only";
}

// A link to a file is copied as that file; a link to a folder (back into the tree, out to
// another folder, or to the whole system) is not followed, and neither is a dangling one.
TEST_F(Recorrido, LinksToFilesAreWalkedAndLinksToFoldersAreNot) {
  for (const char* folder : {"raiz", "raiz/b", "otra"}) ::mkdir(X(folder).c_str(), 0755);
  prueba::WriteFile(X("raiz/b/f"), "x");
  prueba::WriteFile(X("otra/g"), "yyy");
  ::symlink("..", X("raiz/b/arriba").c_str());       // back to raiz
  ::symlink("../otra", X("raiz/fuera").c_str());      // elsewhere on the drive
  ::symlink("/", X("raiz/sistema").c_str());          // the whole system
  ::symlink("../otra/g", X("raiz/enlace").c_str());   // a file
  ::symlink("nada", X("raiz/roto").c_str());          // nowhere
  const TListaRegistros list = Arbol(u"raiz");
  EXPECT_EQ(Nombres(list), (std::vector<std::u16string>{u"raiz", u"raiz\\b", u"raiz\\b\\f", u"raiz\\enlace"}));
  for (const auto& R : list) {
    if (R->ONombre == u"raiz\\enlace") {
      EXPECT_EQ(R->Talla, 3) << "the size of the file it leads to";
    }
  }
}

// A walk stays on the drive it starts on: a folder that another file system, or a bind mount
// of the drive's own tree, is mounted on keeps its record but is not entered.
TEST_F(Recorrido, AFolderOnAnotherMountIsRecordedButNotEntered) {
  if (auto why = prueba::LoopUnavailable()) GTEST_SKIP() << *why;
  for (const char* folder : {"m", "m/dentro", "m/otro"}) ::mkdir(X(folder).c_str(), 0755);
  prueba::WriteFile(X("m/archivo"), "x");
  ASSERT_EQ(::mount(X("m").c_str(), X("m/dentro").c_str(), nullptr, MS_BIND, nullptr), 0);
  ASSERT_EQ(::mount("vertilo-prueba", X("m/otro").c_str(), "tmpfs", 0, "size=1m"), 0);
  prueba::WriteFile(X("m/otro/ajeno"), "y");
  const TListaRegistros list = Arbol(u"m");
  ::umount(X("m/otro").c_str());
  ::umount(X("m/dentro").c_str());
  EXPECT_EQ(Nombres(list), (std::vector<std::u16string>{u"m", u"m\\archivo", u"m\\dentro", u"m\\otro"}));
}

TEST_F(Recorrido, ListingFilesRoundTripAndAnotherVersionReadsEmpty) {
  TDHilo* X = v.Hilo(u'X');
  EXPECT_TRUE(v.form().LeerListado(X).empty()) << "no listing yet";
  TListaRegistros list;
  for (const char16_t* name : {u"a", u"b\\c"}) {
    auto R = std::make_unique<TFRec>();
    R->ONombre = name;
    R->Talla = 7;
    list.push_back(std::move(R));
  }
  v.form().GuardarListado(X, list);
  const TListaRegistros back = v.form().LeerListado(X);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1]->ONombre, u"b\\c");
  EXPECT_EQ(back[1]->Talla, 7);
  std::string bytes = prueba::ReadFile(this->X("Vertilo.lst"));
  bytes[0] = 0x11;  // Another version word.
  prueba::WriteFile(this->X("Vertilo.lst"), bytes);
  EXPECT_TRUE(v.form().LeerListado(X).empty());
  prueba::WriteFile(this->X("Vertilo.lst"), bytes.substr(0, 20));
  EXPECT_TRUE(v.form().LeerListado(X).empty()) << "a short file reads as what it holds";
}

}  // namespace
