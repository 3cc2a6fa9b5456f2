// Failures of the origin and of destinations, and destinations withdrawn during a copy.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "engine/DHilo.h"
#include "engine/OperacionesOrigen.h"
#include "platform/drives.h"
#include "platform/ports.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "tests/engine/Banco.h"

namespace {

using prueba::Banco;
using prueba::Esperar;

// Counts the beeps of the workers.
class Pitidos {
 public:
  Pitidos() {
    win32::InstallBeepHook([this](win32::DWORD) {
      std::lock_guard guard(lock_);
      ++count_;
    });
  }
  ~Pitidos() { win32::InstallBeepHook(nullptr); }
  int Cuenta() {
    std::lock_guard guard(lock_);
    return count_;
  }

 private:
  std::mutex lock_;
  int count_ = 0;
};

// User plus system CPU time of one thread, in clock ticks.
long TiempoCpu(int tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

std::int64_t Talla(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(Fallos, AnUnopenableSourceIsRetriedBehindTheWaitingRecords) {
  Pitidos pitidos;
  Banco banco({{u'E', 512}, {u'F', 512}});
  banco.ajustes.TiempoError = 300;
  banco.AsignarOrigen(u'E');
  auto missing = banco.Registro("falta", {u'F'});
  missing->Talla = 5000;
  missing->Atributos = 0x20;
  banco.EncolarRegistro(std::move(missing));
  for (const char* name : {"uno", "dos"}) {
    prueba::WriteFile(banco.Carpeta(u'E') + "/" + name, prueba::Pattern(3000, 5));
    banco.EncolarRegistro(banco.Registro(name, {u'F'}));
  }
  // The first attempt fails; the two files waiting behind it are copied before the retry.
  EXPECT_TRUE(Esperar([&] { return Talla(banco.Carpeta(u'F') + "/uno") == 3000 && Talla(banco.Carpeta(u'F') + "/dos") == 3000; }));
  EXPECT_TRUE(Esperar([&] { return pitidos.Cuenta() >= 3; })) << "one beep per attempt";
  TDHilo* E = banco.Hilo(u'E');
  EXPECT_EQ(E->GetLEC(), win32::WAIT_TIMEOUT);
  const auto waiting = E->FList.Con([](auto& fl) { return fl.size(); });
  EXPECT_LE(waiting, 1u) << "the file goes back into the list after each attempt";
  EXPECT_EQ(E->GetDFin(), 5120 + 2 * 3072) << "the total counts the file once";
}

// A FIFO that yields one block and then nothing: the second read times out part-way.
TEST(Fallos, AReadThatFailsPartWayTakesItsBytesBackAndPutsTheFileBack) {
  Pitidos pitidos;
  Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 4096}});
  banco.ajustes.TiempoError = 500;
  banco.AsignarOrigen(u'E');
  const std::string fifo = banco.Carpeta(u'E') + "/tubo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  const std::string block = prueba::Pattern(2097152, 9);
  ASSERT_EQ(::write(writer, block.data(), 65536), 65536);  // The pipe holds 64 KiB at a time.
  std::thread feeder([&] {
    ::fcntl(writer, F_SETFL, O_RDWR);
    std::size_t sent = 65536;
    while (sent < block.size()) sent += static_cast<std::size_t>(::write(writer, block.data() + sent, block.size() - sent));
  });
  auto R = banco.Registro("tubo", {u'F', u'G'});
  R->Talla = 3 * 2097152;
  R->Atributos = 0x20;
  banco.EncolarRegistro(std::move(R));
  TDHilo* E = banco.Hilo(u'E');
  ASSERT_TRUE(Esperar([&] { return E->GetLEC() == win32::WAIT_TIMEOUT; }));
  feeder.join();
  // The block read before counts no more, on the origin and on each destination.
  EXPECT_TRUE(Esperar([&] { return E->GetDPos() == 0; }));
  // The file went back into the list with both destinations: the retry creates it anew on
  // each (preallocated, without the block written before).
  for (char16_t d : {u'F', u'G'}) {
    TDHilo* D = banco.Hilo(d);
    EXPECT_TRUE(Esperar([&] { return D->GetDPos() == 0; })) << char(d);
    EXPECT_EQ(D->GetLEC(), 0u) << "a destination is not in error for the origin's failure";
    const std::string copy = banco.Carpeta(d) + "/tubo";
    EXPECT_TRUE(Esperar([&] {
      return Talla(copy) == 3 * 2097152 && prueba::ReadFile(copy).substr(0, 4096) == std::string(4096, '\0');
    })) << char(d);
  }
  EXPECT_GE(pitidos.Cuenta(), 1);
  ::close(writer);
}

TEST(Fallos, AWithdrawnDestinationEndsWhileTheOthersFinish) {
  Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 512}, {u'H', 4096}});
  banco.AsignarOrigen(u'E');
  for (int i = 0; i < 6; ++i) {
    const std::string name = "f" + std::to_string(i);
    prueba::WriteFile(banco.Carpeta(u'E') + "/" + name, prueba::Pattern(7 << 20, static_cast<unsigned>(i)));
    banco.EncolarRegistro(banco.Registro(name, {u'F', u'G', u'H'}));
  }
  const std::int64_t vivos = TDHilo::Vivos();
  ASSERT_TRUE(Esperar([&] { return banco.Hilo(u'G')->GetDPos() > 0; }));
  banco.Retirar(u'G');
  EXPECT_TRUE(Esperar([&] { return TDHilo::Vivos() == vivos - 1; })) << "it ended and freed itself";
  for (char16_t d : {u'F', u'H'}) {
    for (int i = 0; i < 6; ++i) {
      const std::string name = "/f" + std::to_string(i);
      EXPECT_TRUE(Esperar([&] { return prueba::ReadFile(banco.Carpeta(d) + name) == prueba::ReadFile(banco.Carpeta(u'E') + name); }));
    }
  }
}

// A copy whose final cut fails (here: a length no file system can hold) is reported at once
// with the failure's own code, not after TiempoError as a time-out.
TEST(Fallos, AFailedCutIsReportedAtOnceWithItsOwnCode) {
  Banco banco({{u'E', 512}, {u'F', 512}});
  banco.ajustes.TiempoError = 30000;
  banco.AsignarOrigen(u'E');
  prueba::WriteFile(banco.Carpeta(u'E') + "/corte", prueba::Pattern(5000, 8));
  auto R = banco.Registro("corte", {u'F'});
  TDHilo* E = banco.Hilo(u'E');
  R->AddDFin();
  E->AddDFin(E->DTalla(R->Talla));
  E->IOList.Con([&](std::deque<std::unique_ptr<TEspera>>& iol) {
    R->LlenarIOList(E, iol);
    iol.back()->FTalla = iol.back()->FPos = 1LL << 62;  // What the close cuts the copy to.
  });
  TDHilo* F = banco.Hilo(u'F');
  // A size the file system cannot hold fails that file only; a full disk, the drive.
  const auto codigo = [&] { return F->GetLEC() != 0 ? F->GetLEC() : F->GetErrorArchivo(); };
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Esperar([&] { return codigo() != 0; }, 10000)) << "reported well before TiempoError";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_NE(codigo(), win32::WAIT_TIMEOUT);
  EXPECT_TRUE(codigo() == win32::ERROR_FILE_TOO_LARGE || codigo() == win32::ERROR_DISK_FULL ||
              codigo() == win32::ERROR_INVALID_PARAMETER)
      << codigo();
  EXPECT_EQ(Talla(banco.Carpeta(u'F') + "/corte"), -1) << "the wrong copy is deleted";
}

// A read that outlasts TiempoError and the drain is given up; when it finally ends, its
// completion must not be taken for the one the origin awaits then, or the next file's
// writes would carry buffers that were not filled yet.
class Tardia : public ::testing::TestWithParam<win32::PortBackend> {};

TEST_P(Tardia, ALateCompletionOfAGivenUpReadIsNotTakenForTheNextOne) {
  win32::SelectPortBackend(GetParam());
  {
    Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 4096}});
    banco.ajustes.TiempoError = 3000;
    banco.ajustes.TiempoDrenaje = 300;
    banco.AsignarOrigen(u'E');
    const std::string fifo = banco.Carpeta(u'E') + "/tubo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    auto R = banco.Registro("tubo", {u'F', u'G'});
    R->Talla = 4096;  // A FIFO has no size; the record says what to read.
    banco.EncolarRegistro(std::move(R));
    prueba::WriteFile(banco.Carpeta(u'E') + "/siguiente", prueba::Pattern(5 * 2097152 + 333, 21));
    banco.EncolarRegistro(banco.Registro("siguiente", {u'F', u'G'}));
    TDHilo* E = banco.Hilo(u'E');
    ASSERT_TRUE(Esperar([&] { return E->GetLEC() == win32::WAIT_TIMEOUT; }));
    // Given up after the drain; the next file's first read is under way when the FIFO's
    // read gets its data and ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const std::string data(4096, 't');
    ASSERT_EQ(::write(writer, data.data(), data.size()), 4096);
    for (char16_t d : {u'F', u'G'}) {
      EXPECT_TRUE(Esperar([&] {
        return prueba::ReadFile(banco.Carpeta(d) + "/siguiente") == prueba::ReadFile(banco.Carpeta(u'E') + "/siguiente");
      })) << char(d);
    }
    // The FIFO is retried behind it; the end of its writer lets that read end.
    banco.Retirar(u'F');
    banco.Retirar(u'G');
    ::close(writer);
    banco.Terminar();
  }
  win32::SelectPortBackend(win32::PortBackend::Automatic);
}

INSTANTIATE_TEST_SUITE_P(Backends, Tardia,
                         ::testing::Values(win32::PortBackend::IoUring, win32::PortBackend::HelperThreads));

// A destination on a small file system fills up in the middle of a file.
TEST(Fallos, ADestinationThatRunsOutOfSpaceIsSetAsideAndTheOthersFinish) {
  prueba::LoopVolume small("ext4", 12, 512, "CHICO");
  if (!small.ok()) GTEST_SKIP() << small.error();
  Pitidos pitidos;
  Banco banco({{u'E', 512}, {u'G', 4096}});
  // The small volume joins as drive F.
  TDHilo* F = banco.DestinoEnVolumen(small.mountPoint(), u"CHICO", 0x1046);
  ASSERT_NE(F, nullptr);

  prueba::WriteFile(banco.Carpeta(u'E') + "/grande", prueba::Pattern(20 << 20, 3));
  prueba::WriteFile(banco.Carpeta(u'E') + "/despues", prueba::Pattern(1000, 4));
  auto big = banco.Registro("grande", {u'G'});
  big->DList.push_back(F);
  banco.EncolarRegistro(std::move(big));
  auto later = banco.Registro("despues", {u'G'});
  later->DList.push_back(F);
  banco.EncolarRegistro(std::move(later));

  ASSERT_TRUE(Esperar([&] { return F->GetLEC() == win32::ERROR_DISK_FULL; }));
  EXPECT_TRUE(Esperar([&] { return Talla(small.mountPoint() + "/grande") == -1; })) << "its partial file is deleted";
  for (const char* name : {"/grande", "/despues"}) {
    EXPECT_TRUE(Esperar([&] { return prueba::ReadFile(banco.Carpeta(u'G') + name) == prueba::ReadFile(banco.Carpeta(u'E') + name); }));
  }
  EXPECT_EQ(Talla(small.mountPoint() + "/despues"), -1) << "later work for it is retired without running";
  EXPECT_TRUE(banco.Hilo(u'E')->FList.Con([&](auto& fl) {
    for (const auto& R : fl) {
      if (R->EncontrarDestino(F)) return false;
    }
    return true;
  })) << "the waiting records forgot it";
  // Discard mode waits for its queue: a second of it costs (almost) no CPU.
  const long before = TiempoCpu(F->SystemThreadId());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LE(TiempoCpu(F->SystemThreadId()) - before, 5) << "no spinning";
  EXPECT_EQ(pitidos.Cuenta(), 1);
  banco.Hilo(u'E')->EliminarDestinosList.Add(F);
}

// A stick pulled in the middle of a copy (its mount detached with umount -l): its row shows
// the error, the other drive gets every file byte for byte, the origin goes on to the end,
// and the stick's worker ends when it is withdrawn.
TEST(Fallos, ADestinationPulledMidCopyFailsAloneAndNothingWaitsForIt) {
  prueba::LoopVolume stick("ext4", 128, 512, "LLAVE");
  if (!stick.ok()) GTEST_SKIP() << stick.error();
  Pitidos pitidos;
  Banco banco({{u'E', 512}, {u'G', 4096}});
  banco.ajustes.TiempoError = 2000;
  TDHilo* F = banco.DestinoEnVolumen(stick.mountPoint(), u"LLAVE", 0x3046);
  ASSERT_NE(F, nullptr);
  const std::vector<std::string> names = {"grande", "uno", "dos", "tres"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    prueba::WriteFile(banco.Carpeta(u'E') + "/" + names[i], prueba::Pattern(i == 0 ? 60 << 20 : 200000, static_cast<unsigned>(i)));
    auto R = banco.Registro(names[i], {u'G'});
    R->DList.push_back(F);
    banco.EncolarRegistro(std::move(R));
  }
  ASSERT_TRUE(Esperar([&] { return F->GetDPos() > 0; }));
  ASSERT_EQ(prueba::Run("umount -l '" + stick.mountPoint() + "'"), 0);
  EXPECT_TRUE(Esperar([&] { return F->GetLEC() != 0; })) << "the pulled stick's row shows no error";
  for (const std::string& name : names) {
    EXPECT_TRUE(Esperar([&] { return prueba::ReadFile(banco.Carpeta(u'G') + "/" + name) == prueba::ReadFile(banco.Carpeta(u'E') + "/" + name); }))
        << name;
  }
  TDHilo* E = banco.Hilo(u'E');
  EXPECT_TRUE(Esperar([&] { return E->GetDPos() == E->GetDFin(); })) << "the origin stopped";
  const std::int64_t antes = TDHilo::Vivos();
  E->EliminarDestinosList.Add(F);
  EXPECT_TRUE(Esperar([&] { return TDHilo::Vivos() == antes - 1; })) << "the stick's worker waits for ever";
}

// Names an exFAT stick cannot hold (characters Windows refuses, a control character) fail on
// the stick only, file by file, and a folder it cannot make fails with what is under it; the
// stick goes on with the rest, and lists what failed.
TEST(Fallos, NamesAStickCannotHoldFailAloneAndTheRestArrives) {
  prueba::LoopVolume stick("exfat", 64, 512, "LLAVE");
  if (!stick.ok()) GTEST_SKIP() << stick.error();
  Pitidos pitidos;
  Banco banco({{u'E', 512}, {u'G', 4096}});
  banco.ajustes.TiempoError = 20000;  // Every failure must come at once, not at the time-out.
  TDHilo* F = banco.DestinoEnVolumen(stick.mountPoint(), u"LLAVE", 0x4046);
  ASSERT_NE(F, nullptr);
  const std::string e = banco.Carpeta(u'E');
  const std::string raro = std::string("mal") + '\x01' + "carpeta";
  ::mkdir((e + "/" + raro).c_str(), 0755);
  const std::vector<std::pair<std::string, std::size_t>> files = {
      {"bueno1", 3000},  {"mal?nombre", 100}, {"mal:dos", 3 * 2097152 + 5}, {raro + "/dentro", 50},
      {"medio|grande", 2097153}, {"bueno2", 2 * 2097152 + 9}, {"bueno3", 1}};
  unsigned seed = 60;
  for (const auto& [name, size] : files) prueba::WriteFile(e + "/" + name, prueba::Pattern(size, seed++));
  const auto encolar = [&](const std::string& name) {
    auto R = banco.Registro(name, {u'G'});
    R->DList.push_back(F);
    banco.EncolarRegistro(std::move(R));
  };
  encolar(raro);
  for (const auto& file : files) encolar(file.first);
  const std::vector<std::string> buenos = {"bueno1", "bueno2", "bueno3"};
  ASSERT_TRUE(Esperar([&] { return F->GetDFin() > 0 && F->GetDPos() == F->GetDFin(); }, 15000))
      << "the stick did not finish the rest";
  EXPECT_EQ(F->GetLEC(), 0u) << "the stick was set aside";
  for (const std::string& name : buenos) {
    EXPECT_EQ(prueba::ReadFile(stick.mountPoint() + "/" + name), prueba::ReadFile(e + "/" + name)) << name;
  }
  for (const auto& file : files) {
    EXPECT_TRUE(Esperar([&] { return prueba::ReadFile(banco.Carpeta(u'G') + "/" + file.first) == prueba::ReadFile(e + "/" + file.first); }))
        << file.first << " on the other drive";
  }
  std::vector<std::u16string> fallidos;
  for (const auto& [name, code] : F->Fallidos()) {
    fallidos.push_back(name);
    EXPECT_NE(code, 0u);
  }
  const auto nombre = [](std::string native) {
    std::u16string n = win32::NameFromNative(native);
    std::replace(n.begin(), n.end(), u'/', u'\\');
    return n;
  };
  // In any order: a drive far behind the other gets a small file later.
  std::vector<std::u16string> esperados = {nombre(raro), nombre("mal?nombre"), nombre("mal:dos"), nombre(raro + "/dentro"),
                                           nombre("medio|grande")};
  std::sort(fallidos.begin(), fallidos.end());
  std::sort(esperados.begin(), esperados.end());
  EXPECT_EQ(fallidos, esperados);
  EXPECT_NE(F->GetErrorArchivo(), 0u) << "the row does not say that files failed";
  EXPECT_TRUE(Esperar([] { return BloquesVivos() == 0; })) << "dropped operations kept their buffers";
  banco.Hilo(u'E')->EliminarDestinosList.Add(F);
}

// FAT32 holds no file of 4 GiB or more: that file fails on the card with its own reason, and
// the card goes on with the rest. Only through the kernel's vfat driver.
TEST(Fallos, AFileOfFourGibibytesFailsOnAFat32CardAlone) {
  prueba::LoopVolume card("vfat", 64, 512, "TARJETA");
  if (!card.ok()) GTEST_SKIP() << card.error();
  Banco banco({{u'E', 512}, {u'G', 4096}});
  banco.ajustes.TiempoError = 20000;
  TDHilo* F = banco.DestinoEnVolumen(card.mountPoint(), u"TARJETA", 0x5046);
  ASSERT_NE(F, nullptr);
  const std::string e = banco.Carpeta(u'E');
  // Sparse: 4 GiB of zeros that take no room on the source.
  prueba::WriteFile(e + "/enorme", "x");
  ASSERT_EQ(::truncate((e + "/enorme").c_str(), 4LL << 30), 0);
  prueba::WriteFile(e + "/despues", prueba::Pattern(3 * 2097152 + 1, 70));
  for (const char* name : {"enorme", "despues"}) {
    auto R = banco.Registro(name, {});
    R->DList.push_back(F);
    banco.EncolarRegistro(std::move(R));
  }
  ASSERT_TRUE(Esperar([&] { return F->GetDFin() > 0 && F->GetDPos() == F->GetDFin(); }, 60000))
      << "the card did not go on";
  EXPECT_EQ(F->GetLEC(), 0u) << "the card was set aside";
  EXPECT_EQ(prueba::ReadFile(card.mountPoint() + "/despues"), prueba::ReadFile(e + "/despues"));
  ASSERT_EQ(F->Fallidos().size(), 1u);
  EXPECT_EQ(F->Fallidos()[0].first, u"enorme");
  EXPECT_EQ(F->Fallidos()[0].second, win32::ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(::access((card.mountPoint() + "/enorme").c_str(), F_OK), -1) << "no partial copy is left";
  banco.Hilo(u'E')->EliminarDestinosList.Add(F);
}

}  // namespace
