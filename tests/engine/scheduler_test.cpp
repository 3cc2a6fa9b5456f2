// The origin's choice of records, the split of destinations far behind, and the operations
// on its file list. Destinations without a role keep what they are given, so their backlog
// is what the test puts in their queue.

#include <gtest/gtest.h>

#include "engine/DHilo.h"
#include "engine/Flujos.h"
#include "platform/memory.h"
#include "tests/engine/Banco.h"

namespace {

using prueba::Banco;
using prueba::Esperar;

class Planificador : public ::testing::Test {
 protected:
  void SetUp() override {
    // T = (8 GiB - 6 GiB) / 2 = 1 GiB.
    banco.ajustes.MemoriaTotal = 8LL << 30;
    banco.ajustes.MemoriaLibre = 6LL << 30;
    // More than the reserve is free, so opens and reads go ahead until the test closes the gate.
    Memoria(7ull << 30);
    origen = banco.Hilo(u'E');
    banco.AsignarOrigenConDestinosQuietos(u'E');
  }
  void TearDown() override { win32::InstallMemoryStatus(nullptr); }

  static void Memoria(std::uint64_t available) {
    win32::InstallMemoryStatus([available] {
      win32::MEMORYSTATUSEX status;
      status.ullTotalPhys = 8ull << 30;
      status.ullAvailPhys = available;
      return status;
    });
  }
  // Gives a destination a backlog of the given bytes.
  void Retraso(char16_t d, std::int64_t bytes) {
    auto op = std::make_unique<TEspera>();
    op->Cache = bytes;
    banco.Hilo(d)->IOList.Add(std::move(op));
  }
  std::unique_ptr<TFRec> Registro(const std::string& name, std::int64_t size, std::vector<char16_t> destinos) {
    prueba::WriteFile(banco.Carpeta(u'E') + "/" + name, std::string(static_cast<std::size_t>(size), 'x'));
    auto R = banco.Registro(name, {});
    for (char16_t d : destinos) R->DList.push_back(banco.Hilo(d));
    return R;
  }
  // The names and first destinations of the records waiting, in order.
  std::vector<std::pair<std::u16string, std::vector<TDHilo*>>> Espera() {
    return origen->FList.Con([](auto& fl) {
      std::vector<std::pair<std::u16string, std::vector<TDHilo*>>> out;
      for (const auto& R : fl) out.push_back({R->ONombre, R->DList});
      return out;
    });
  }
  // Holds the origin at the first read of what it takes next: reads wait for memory.
  void CerrarCompuerta() { Memoria(6ull << 30); }

  Banco banco{{{u'E', 512}, {u'A', 512}, {u'B', 512}, {u'C', 512}}};
  TDHilo* origen = nullptr;
  const std::int64_t T = 1LL << 30;
};

TEST_F(Planificador, ADestinationFarBehindIsSplitOffToTheEnd) {
  Retraso(u'C', T + 1);
  CerrarCompuerta();
  auto R = Registro("r", 1 << 20, {u'A', u'B', u'C'});
  const std::int64_t size = R->DTalla(512);
  banco.EncolarRegistro(std::move(R));
  ASSERT_TRUE(Esperar([&] { return Espera().size() == 1 && Espera()[0].second.size() == 1; }));
  EXPECT_EQ(Espera()[0].second, std::vector<TDHilo*>{banco.Hilo(u'C')});
  EXPECT_TRUE(Esperar([&] { return origen->GetDFin() == 2 * size; })) << "the file will be read once more";
}

TEST_F(Planificador, ARecordWithOneDestinationIsNeverSplit) {
  Retraso(u'C', T + 1);
  CerrarCompuerta();
  banco.EncolarRegistro(Registro("r", 1000, {u'C'}));
  ASSERT_TRUE(Esperar([&] { return Espera().empty(); })) << "taken whole";
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_TRUE(Espera().empty());
  EXPECT_EQ(origen->GetDFin(), 1024);
}

TEST_F(Planificador, ASmallFileIsSplitByItsSizeWhateverT) {
  banco.ajustes.MemoriaLibre = 1LL << 30;  // T is 3.5 GiB now.
  Retraso(u'B', 5 << 20);
  Memoria(1ull << 30);  // The gate closes at the new reserve.
  banco.EncolarRegistro(Registro("kb", 1024, {u'A', u'B'}));
  ASSERT_TRUE(Esperar([&] { return Espera().size() == 1 && Espera()[0].second.size() == 1; }));
  EXPECT_EQ(Espera()[0].second, std::vector<TDHilo*>{banco.Hilo(u'B')});
}

TEST_F(Planificador, TheFirstRecordWhoseFirstDestinationIsNotTooFarBehindGoesFirst) {
  Retraso(u'C', T);  // T itself is too far behind.
  CerrarCompuerta();
  // Queued together, under the list's lock, so that the origin sees both at once.
  origen->FList.Con([&](auto& fl) {
    fl.push_back(Registro("lejos", 1000, {u'C'}));
    fl.push_back(Registro("cerca", 1000, {u'A'}));
  });
  ASSERT_TRUE(Esperar([&] { return Espera().size() == 1; }));
  EXPECT_EQ(Espera()[0].first, u"lejos");
}

TEST_F(Planificador, WhenEveryoneIsFarBehindTheFirstRecordIsTaken) {
  Retraso(u'C', T + 5);
  Retraso(u'A', T + 5);
  CerrarCompuerta();
  origen->FList.Con([&](auto& fl) {
    fl.push_back(Registro("uno", 1000, {u'C'}));
    fl.push_back(Registro("dos", 1000, {u'A'}));
  });
  ASSERT_TRUE(Esperar([&] { return Espera().size() == 1; }));
  EXPECT_EQ(Espera()[0].first, u"dos");
}

// File-list operations on an origin that schedules nothing (its gate is closed and its
// queue busy with a read waiting for memory).
class Lista : public Planificador {
 protected:
  void SetUp() override {
    Planificador::SetUp();
    CerrarCompuerta();
    banco.EncolarRegistro(Registro("ocupado", 1000, {u'A'}));
    ASSERT_TRUE(Esperar([&] { return Espera().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  TDHilo* H(char16_t d) { return banco.Hilo(d); }
};

TEST_F(Lista, PriorizarPutsTheDrivesRecordsFirstWithItInFront) {
  origen->FList.Con([&](auto& fl) {
    fl.push_back(Registro("a", 10, {u'A'}));
    fl.push_back(Registro("ab", 10, {u'A', u'B'}));
    fl.push_back(Registro("abc", 10, {u'A', u'B', u'C'}));
    fl.push_back(Registro("c", 10, {u'C'}));
  });
  origen->PriorizarDestino(H(u'C'));
  const auto order = Espera();
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order[0].first, u"abc");
  EXPECT_EQ(order[0].second.front(), H(u'C'));
  EXPECT_EQ(order[1].first, u"c");
  EXPECT_EQ(order[2].first, u"ab");
  EXPECT_EQ(order[3].first, u"a");
  origen->PriorizarDestino(reinterpret_cast<TDHilo*>(0x99));
  EXPECT_EQ(Espera()[0].second.size(), 3u) << "a drive in no record only sorts by destination count";
  EXPECT_EQ(Espera()[3].second.size(), 1u);
}

TEST_F(Lista, EliminarFilesDropsRecordsLeftWithoutDestinations) {
  const std::int64_t before = origen->GetDFin();
  for (const char* name : {"x", "y", "z"}) banco.EncolarRegistro(Registro(name, 1000, {u'B'}));
  banco.EncolarRegistro(Registro("w", 1000, {u'B', u'C'}));
  ASSERT_TRUE(Esperar([&] { return origen->GetDFin() == before + 4 * 1024; }));
  origen->EliminarFiles(H(u'B'));
  const auto left = Espera();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].first, u"w");
  EXPECT_EQ(left[0].second, std::vector<TDHilo*>{H(u'C')});
  EXPECT_TRUE(Esperar([&] { return origen->GetDFin() == before + 1024; }));
}

TEST_F(Lista, LeerFRQueuesOnlyARecordThatBoundADestination) {
  TMemoryStream s;
  for (std::uint32_t id : {0xDEADu, 0x1000u + u'C'}) {
    TFRec R;
    R.ONombre = R.DNombre = u"leido";
    R.Talla = 100;
    R.DList = {};
    R.EscribirOrigen(s);
    EscribirCadena(s, R.DNombre);
    s.EscribirEntero(1);
    s.EscribirNatural(id);
  }
  s.Rebobinar();
  const TListaPorID byId = OrdenarPorID({H(u'A'), H(u'B'), H(u'C'), H(u'E')});
  const std::int64_t before = origen->GetDFin();
  origen->LeerFR(s, byId);
  EXPECT_TRUE(Espera().empty()) << "no present drive was named";
  origen->LeerFR(s, byId);
  ASSERT_EQ(Espera().size(), 1u);
  EXPECT_EQ(Espera()[0].second, std::vector<TDHilo*>{H(u'C')});
  EXPECT_TRUE(Esperar([&] { return origen->GetDFin() == before + 512 && H(u'C')->GetDFin() == 512; }));
}

}  // namespace
