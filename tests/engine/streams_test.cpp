// Record streams: the byte layouts, the binding of job destinations, and damaged files.

#include <random>

#include <gtest/gtest.h>

#include "engine/DHilo.h"
#include "engine/Listados.h"
#include "platform/files.h"
#include "tests/engine/Banco.h"

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

TEST(Flujo, CountedStrings) {
  TMemoryStream s;
  EscribirCadena(s, u"abc");
  EXPECT_EQ(s.Bytes(), Bytes({3, 0, 0, 0, 0x61, 0, 0x62, 0, 0x63, 0}));
  TMemoryStream empty;
  EscribirCadena(empty, u"");
  EXPECT_EQ(empty.Bytes(), Bytes({0, 0, 0, 0}));
  TMemoryStream astral;
  EscribirCadena(astral, u"\U0001F600");
  EXPECT_EQ(astral.Bytes()[0], 2) << "two code units";
  astral.Rebobinar();
  EXPECT_EQ(LeerCadena(astral), u"\U0001F600");
}

TEST(Flujo, CountsTheDataCannotHoldFailBeforeAnyAllocation) {
  for (std::int32_t count : {-1, 3, 0x7FFFFFFF, static_cast<std::int32_t>(0x80000000u)}) {
    TMemoryStream s;
    s.EscribirEntero(count);
    s.EscribirEntero(0x00610061);  // Two units, fewer than most counts above ask for.
    s.Rebobinar();
    EXPECT_THROW(LeerCadena(s), EFormato) << count;
  }
  TMemoryStream s;
  s.EscribirEntero(2);
  s.EscribirEntero(0x00620061);
  s.Rebobinar();
  EXPECT_EQ(LeerCadena(s), u"ab");
}

TEST(Flujo, OriginPartOfARootFolderIsFortyTwoBytes) {
  TFRec R;
  R.ONombre = u"a";
  R.Atributos = 0x10;
  R.Tiempo.ETiempo = win32::Int64ToFileTime(0x0102030405060708LL);
  TMemoryStream s;
  R.EscribirOrigen(s);
  ASSERT_EQ(s.Bytes().size(), 42u);
  EXPECT_EQ(std::vector<std::uint8_t>(s.Bytes().begin(), s.Bytes().begin() + 6), Bytes({1, 0, 0, 0, 0x61, 0}));
  EXPECT_EQ(std::vector<std::uint8_t>(s.Bytes().begin() + 30, s.Bytes().begin() + 38),
            Bytes({8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(std::vector<std::uint8_t>(s.Bytes().end() - 4, s.Bytes().end()), Bytes({0x10, 0, 0, 0}));
  s.Rebobinar();
  TFRec back;
  back.LeerOrigen(s);
  EXPECT_EQ(back.ONombre, u"a");
  EXPECT_EQ(back.Atributos, 0x10u);
  EXPECT_EQ(win32::FileTimeToInt64(back.Tiempo.ETiempo), 0x0102030405060708LL);
}

TEST(Flujo, AnEmptyJobIsEightBytes) {
  TMemoryStream s;
  EscribirTrabajo(s, 0xA1B2C3D4u, {});
  EXPECT_EQ(s.Bytes(), Bytes({0xD4, 0xC3, 0xB2, 0xA1, 0, 0, 0, 0}));
}

TEST(Flujo, AListingOfAnotherVersionYieldsNothing) {
  TListaRegistros records;
  for (const char16_t* name : {u"a", u"b\\c"}) {
    auto R = std::make_unique<TFRec>();
    R->ONombre = name;
    records.push_back(std::move(R));
  }
  TMemoryStream current, other;
  EscribirRegistrosListado(current, kFileAppVersion, records);
  EscribirRegistrosListado(other, kFileAppVersion - 1, records);
  EXPECT_EQ(std::vector<std::uint8_t>(current.Bytes().begin(), current.Bytes().begin() + 4), Bytes({0x99, 0xA6, 0, 0}));
  current.Rebobinar();
  other.Rebobinar();
  TListaRegistros read, none;
  LeerRegistrosListado(current, kFileAppVersion, read);
  LeerRegistrosListado(other, kFileAppVersion, none);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1]->ONombre, u"b\\c");
  EXPECT_TRUE(none.empty());
}

TEST(Flujo, AJobRecordBindsOnlyPresentDrivesThatLackTheFile) {
  prueba::Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 512}});
  // G already holds the same file: same size, same minute.
  prueba::WriteFile(banco.Carpeta(u'G') + "/doc.txt", "hola");
  win32::WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(win32::GetFileAttributesExW(u"\\\\?\\G:\\doc.txt", &data));
  TFRec R;
  R.ONombre = R.DNombre = u"doc.txt";
  R.Talla = 4;
  R.Tiempo.ETiempo = data.ftLastWriteTime;
  TMemoryStream s;
  R.EscribirOrigen(s);
  EscribirCadena(s, R.DNombre);
  s.EscribirEntero(3);
  for (std::uint32_t id : {0x1000u + u'F', 0xDEADu, 0x1000u + u'G'}) s.EscribirNatural(id);
  s.EscribirEntero(0x5A5A5A5A);  // What follows the record.
  s.Rebobinar();
  const TListaPorID byId = OrdenarPorID({banco.Hilo(u'E'), banco.Hilo(u'F'), banco.Hilo(u'G')});
  TFRec back;
  EXPECT_TRUE(back.LeerTodo(s, byId));
  EXPECT_EQ(back.DList, std::vector<TDHilo*>{banco.Hilo(u'F')});
  EXPECT_EQ(s.LeerEntero(), 0x5A5A5A5A) << "the whole record was consumed";
}

// Sticks cloned from one image share their serial, and so may the origin. Each stored copy
// of the ID stands for one drive: every drive is bound once, and the origin never.
TEST(Flujo, AJobBindsEachDriveOnceAndNeverTheOrigin) {
  prueba::Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 512}});
  banco.AsignarOrigen(u'E');
  constexpr std::uint32_t kClon = 0xC10C10;
  for (char16_t d : {u'E', u'F', u'G'}) {
    THRec rec = banco.Hilo(d)->GetAppRec();
    rec.ID = kClon;
    banco.Hilo(d)->SetAppRec(rec);
    ASSERT_TRUE(prueba::Esperar([&] { return banco.Hilo(d)->Identidad().ID == kClon; }));
  }
  const TListaPorID byId = OrdenarPorID({banco.Hilo(u'E'), banco.Hilo(u'F'), banco.Hilo(u'G')});
  const struct {
    int stored;  // copies of the ID in the record
    std::vector<char16_t> bound;
  } cases[] = {{1, {u'F'}}, {2, {u'F', u'G'}}, {5, {u'F', u'G'}}};
  for (const auto& c : cases) {
    TFRec R;
    R.ONombre = R.DNombre = u"doc.txt";
    R.Talla = 4;
    TMemoryStream s;
    R.EscribirOrigen(s);
    EscribirCadena(s, R.DNombre);
    s.EscribirEntero(c.stored);
    for (int i = 0; i < c.stored; ++i) s.EscribirNatural(kClon);
    s.Rebobinar();
    TFRec back;
    EXPECT_TRUE(back.LeerTodo(s, byId));
    std::vector<TDHilo*> expected;
    for (char16_t d : c.bound) expected.push_back(banco.Hilo(d));
    EXPECT_EQ(back.DList, expected) << c.stored << " copies of the ID";
  }
}

// A job read the way the window reads it; the number of records completed.
int LeerTrabajo(TStream& s, const TListaPorID& byId) {
  int complete = 0;
  try {
    s.LeerNatural();
    const std::int32_t count = s.LeerEntero();
    for (std::int32_t i = 0; i < count; ++i) {
      TFRec R;
      R.LeerTodo(s, byId);
      ++complete;
    }
  } catch (const EFlujo&) {
  }
  return complete;
}

int LeerListado(TStream& s) {
  TListaRegistros records;
  try {
    LeerRegistrosListado(s, kFileAppVersion, records);
  } catch (const EFlujo&) {
  }
  return static_cast<int>(records.size());
}

class Danados : public ::testing::Test {
 protected:
  void SetUp() override {
    TListaRegistros records;
    std::deque<std::unique_ptr<TFRec>> job;
    for (int i = 0; i < 12; ++i) {
      auto R = std::make_unique<TFRec>();
      R->ONombre = u"carpeta\\archivo " + std::u16string(static_cast<std::size_t>(i), u'ñ') + u"\U0001F600";
      R->DNombre = R->ONombre.substr(8);
      R->Talla = i * 1000003LL;
      R->Atributos = i % 3 == 0 ? 0x10 : 0x20;
      auto copy = std::make_unique<TFRec>(*R);
      records.push_back(std::move(R));
      job.push_back(std::move(copy));
    }
    TMemoryStream listing, jobStream;
    EscribirRegistrosListado(listing, kFileAppVersion, records);
    // Destinations as the window writes them: drive IDs that need no worker to be read.
    jobStream.EscribirNatural(0x1234);
    jobStream.EscribirEntero(static_cast<std::int32_t>(job.size()));
    for (const auto& R : job) {
      R->EscribirOrigen(jobStream);
      EscribirCadena(jobStream, R->DNombre);
      jobStream.EscribirEntero(3);
      for (std::uint32_t id : {7u, 8u, 9u}) jobStream.EscribirNatural(id);
    }
    listado = listing.Bytes();
    trabajo = jobStream.Bytes();
  }
  std::vector<std::uint8_t> listado, trabajo;
};

TEST_F(Danados, EveryTruncationKeepsTheRecordsBeforeIt) {
  TMemoryStream whole(listado), wholeJob(trabajo);
  ASSERT_EQ(LeerListado(whole), 12);
  ASSERT_EQ(LeerTrabajo(wholeJob, {}), 12);
  int previous = 0;
  for (std::size_t n = 0; n < listado.size(); ++n) {
    TMemoryStream s(std::vector<std::uint8_t>(listado.begin(), listado.begin() + static_cast<std::ptrdiff_t>(n)));
    const int read = LeerListado(s);
    EXPECT_LT(read, 12);
    EXPECT_GE(read, previous) << "a longer prefix never yields fewer records";
    previous = read;
  }
  EXPECT_EQ(previous, 11);
  previous = 0;
  for (std::size_t n = 0; n < trabajo.size(); ++n) {
    TMemoryStream s(std::vector<std::uint8_t>(trabajo.begin(), trabajo.begin() + static_cast<std::ptrdiff_t>(n)));
    const int read = LeerTrabajo(s, {});
    EXPECT_LT(read, 12);
    EXPECT_GE(read, previous);
    previous = read;
  }
  EXPECT_EQ(previous, 11);
}

// Thousands of randomly damaged copies: bytes changed, counts made huge or negative, pieces
// cut out. Reading them must end without a crash, an overread or a huge allocation (the
// sanitizer build caps allocations for this test).
TEST_F(Danados, RandomDamageNeverCrashesOrOverreads) {
  std::mt19937 random(20161006);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> bytes = round % 2 == 0 ? listado : trabajo;
    const int changes = 1 + static_cast<int>(random() % 8);
    for (int c = 0; c < changes; ++c) {
      const std::size_t at = random() % bytes.size();
      switch (random() % 4) {
        case 0:
          bytes[at] = static_cast<std::uint8_t>(random());
          break;
        case 1:  // A count-sized value, huge or negative.
          for (std::size_t k = 0; k < 4 && at + k < bytes.size(); ++k) bytes[at + k] = static_cast<std::uint8_t>(random() | 0x80);
          break;
        case 2:
          bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + 1 + random() % 16)));
          break;
        default:
          bytes.resize(at + 1);
          break;
      }
      if (bytes.empty()) break;
    }
    TMemoryStream s(bytes);
    // No record comes out of nothing: each one took its own bytes.
    if (round % 2 == 0) {
      EXPECT_LE(LeerListado(s), static_cast<int>(bytes.size()) / 40);
    } else {
      EXPECT_LE(LeerTrabajo(s, {}), static_cast<int>(bytes.size()) / 48);
    }
  }
}

}  // namespace
