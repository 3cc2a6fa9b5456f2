// Operations and their shared buffers, on idle workers (their queues keep what they receive).

#include <algorithm>
#include <numeric>

#include <gtest/gtest.h>

#include "engine/DHilo.h"
#include "engine/OperacionesDestino.h"
#include "engine/OperacionesOrigen.h"
#include "engine/Progreso.h"
#include "tests/engine/Banco.h"

namespace {

using prueba::Banco;
using Ops = std::deque<std::unique_ptr<TEspera>>;

TEST(Redondear, RoundsUpToWholeSectors) {
  const struct {
    std::int64_t value;
    std::uint32_t step;
    std::int64_t expected;
  } cases[] = {{0, 512, 0}, {512, 512, 512}, {513, 512, 1024}, {1, 4096, 4096}, {2097153, 512, 2097664},
               {1000, 4096, 4096}, {-500, 512, 512}};
  for (const auto& c : cases) EXPECT_EQ(Redondear(c.value, c.step), c.expected) << c.value << " / " << c.step;
}

class Operaciones : public ::testing::Test {
 protected:
  Ops Tomar(char16_t letra) { return banco.Hilo(letra)->IOList.Extraer(); }
  Banco banco{{{u'E', 512}, {u'F', 512}, {u'G', 4096}, {u'H', 4096}}};
};

TEST_F(Operaciones, EveryOrderOfReleaseFreesTheBlockOnceAtTheLastOne) {
  std::vector<int> order = {0, 1, 2, 3};
  const std::int64_t before = BloquesVivos();
  do {
    auto read = std::make_unique<TLeerArchivo>();
    read->Bloque = 4096;
    read->BufBytes = 4096;
    for (char16_t d : {u'F', u'G', u'H'}) read->DList.Add(banco.Hilo(d));
    ASSERT_TRUE(read->CrearBuf(0));
    EXPECT_EQ(BloquesVivos(), before + 1);
    read->OnExeIO();
    std::vector<std::unique_ptr<TEspera>> all;
    all.push_back(std::move(read));
    for (char16_t d : {u'F', u'G', u'H'}) {
      Ops ops = Tomar(d);
      ASSERT_EQ(ops.size(), 1u);
      EXPECT_EQ(ops[0]->Buf, all[0]->Buf) << "the buffer is shared, never copied";
      EXPECT_EQ(ops[0]->BufCount, all[0]->BufCount);
      all.push_back(std::move(ops[0]));
    }
    EXPECT_EQ(all[0]->BufCount->load(), 4);
    for (std::size_t i = 0; i < order.size(); ++i) {
      all[static_cast<std::size_t>(order[i])].reset();
      EXPECT_EQ(BloquesVivos(), before + (i + 1 < order.size() ? 1 : 0));
    }
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(Operaciones, AReadWithoutDestinationsKeepsItsOwnShare) {
  const std::int64_t before = BloquesVivos();
  auto read = std::make_unique<TLeerArchivo>();
  read->Bloque = 4096;
  read->DList.Add(banco.Hilo(u'F'));
  read->DList.Add(banco.Hilo(u'F'));  // Twice is once.
  ASSERT_TRUE(read->CrearBuf(0));
  EXPECT_FALSE(read->BorrarDestino(banco.Hilo(u'G')));
  EXPECT_TRUE(read->BorrarDestino(banco.Hilo(u'F')));
  EXPECT_FALSE(read->BorrarDestino(banco.Hilo(u'F')));
  read->OnExeIO();
  read->OnReadError();
  EXPECT_TRUE(Tomar(u'F').empty());
  EXPECT_EQ(read->BufCount->load(), 1);
  read.reset();
  EXPECT_EQ(BloquesVivos(), before);
}

TEST_F(Operaciones, TheLastBlockOfAThousandByteFile) {
  TFRec R;
  R.ONombre = R.DNombre = u"mil.bin";
  R.Talla = 1000;
  R.DList = {banco.Hilo(u'F'), banco.Hilo(u'G')};
  std::int64_t position = 0;
  auto read = R.IOLeerArchivo(banco.Hilo(u'E'), position);
  EXPECT_EQ(read->BufBytes, 1024);  // The origin's 512-byte sectors.
  EXPECT_EQ(read->Bloque, 4096);    // The largest sector size of all drives.
  EXPECT_EQ(read->FStr, u" 0.98 Kb 0%");
  EXPECT_EQ(position, 1024);
  ASSERT_TRUE(read->CrearBuf(0));
  read->OnExeIO();
  Ops f = Tomar(u'F'), g = Tomar(u'G');
  ASSERT_EQ(f.size(), 1u);
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(f[0]->BufBytes, 1024);
  EXPECT_EQ(g[0]->BufBytes, 4096);
}

TEST_F(Operaciones, ARecordBecomesOpenReadsAndClose) {
  const struct {
    std::int64_t talla;
    std::uint32_t atributos;
    std::vector<std::int64_t> lecturas;  // BufBytes of each read
  } cases[] = {
      {0, 0x10, {}},
      {0, 0x20, {}},
      {1, 0x20, {512}},
      {2097152, 0x20, {2097152}},
      {2097153, 0x20, {2097152, 512}},
      {5 * 2097152 + 1000, 0x20, {2097152, 2097152, 2097152, 2097152, 2097152, 1024}},
  };
  for (const auto& c : cases) {
    TFRec R;
    R.ONombre = R.DNombre = u"x";
    R.Talla = c.talla;
    R.Atributos = c.atributos;
    R.DList = {banco.Hilo(u'F')};
    Ops ops;
    R.LlenarIOList(banco.Hilo(u'E'), ops);
    if (c.atributos & 0x10) {
      ASSERT_EQ(ops.size(), 1u);
      EXPECT_NE(dynamic_cast<TAbrirCarpeta*>(ops[0].get()), nullptr);
      EXPECT_EQ(dynamic_cast<TAbrirArchivoVacio*>(ops[0].get()), nullptr);
      continue;
    }
    if (c.talla == 0) {
      ASSERT_EQ(ops.size(), 1u);
      EXPECT_NE(dynamic_cast<TAbrirArchivoVacio*>(ops[0].get()), nullptr);
      continue;
    }
    ASSERT_EQ(ops.size(), c.lecturas.size() + 2) << c.talla;
    EXPECT_NE(dynamic_cast<TAbrirArchivo*>(ops.front().get()), nullptr);
    EXPECT_NE(dynamic_cast<TCerrarArchivo*>(ops.back().get()), nullptr);
    EXPECT_EQ(ops.back()->FPos, c.talla);
    EXPECT_EQ(ops.back()->FStr, u" " + TallaStr(c.talla) + u" 100%");
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < c.lecturas.size(); ++i) {
      auto* read = dynamic_cast<TLeerArchivo*>(ops[i + 1].get());
      ASSERT_NE(read, nullptr);
      EXPECT_EQ(read->BufBytes, c.lecturas[i]);
      EXPECT_EQ(read->FPos, offset);
      EXPECT_EQ(read->ORec.Offset, static_cast<win32::DWORD>(offset));
      EXPECT_TRUE(read->DList.Copia() == std::vector<TDHilo*>{banco.Hilo(u'F')});
      offset += read->BufBytes;
    }
  }
}

TEST_F(Operaciones, FanOutHandsEachStepToEveryDestinationInOrder) {
  TFRec R;
  R.ONombre = u"o\\n";
  R.DNombre = u"d\\n";
  R.Talla = 10;
  R.Atributos = 0x21;
  R.Tiempo.ETiempo = win32::Int64ToFileTime(131200000000000000LL);
  R.DList = {banco.Hilo(u'G'), banco.Hilo(u'F')};
  Ops ops;
  R.LlenarIOList(banco.Hilo(u'E'), ops);
  ops.push_back(R.IOCarpeta());
  ops.push_back(R.IOArchivoVacio());
  for (auto& op : ops) {
    ASSERT_TRUE(op->CrearBuf(0));
    op->OnExeIO();
  }
  for (char16_t d : {u'F', u'G'}) {
    Ops got = Tomar(d);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_NE(dynamic_cast<TCrearArchivo*>(got[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<TEscribirArchivo*>(got[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<TCerrarArchivoCreado*>(got[2].get()), nullptr);
    EXPECT_NE(dynamic_cast<TCrearCarpeta*>(got[3].get()), nullptr);
    EXPECT_NE(dynamic_cast<TCrearArchivoVacio*>(got[4].get()), nullptr);
    EXPECT_EQ(got[0]->DNombre, u"d\\n");
    EXPECT_EQ(got[0]->FTalla, 10);
    EXPECT_EQ(got[2]->FAtributos, 0x21u);
    EXPECT_EQ(win32::FileTimeToInt64(got[2]->FTiempo.ETiempo), 131200000000000000LL);
    EXPECT_EQ(got[1]->BufBytes, d == u'F' ? 512 : 4096);
    // Only writes hold a share of the buffer.
    EXPECT_EQ(got[0]->BufCount, nullptr);
    EXPECT_NE(got[1]->BufCount, nullptr);
  }
  // A failed step closes the destinations' file as incomplete and takes back its bytes.
  std::int64_t start = 0;
  auto read = R.IOLeerArchivo(banco.Hilo(u'E'), start);
  read->FPos = 4194304;
  read->OnReadError();
  for (char16_t d : {u'F', u'G'}) {
    Ops got = Tomar(d);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(dynamic_cast<TCerrarArchivoIncompleto*>(got[0].get()), nullptr);
    EXPECT_EQ(got[0]->BufBytes, -4194304);
  }
}

}  // namespace
