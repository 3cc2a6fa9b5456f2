// Whole copies from one drive to several, through real files and real unbuffered transfers.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "engine/DHilo.h"
#include "engine/OperacionesDestino.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/ports.h"
#include "platform/drives.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "tests/engine/Banco.h"

namespace {

using prueba::Banco;
using prueba::Esperar;

// 6 October 2016 12:34:56.5 UTC.
constexpr time_t kSegundos = 1475757296;

void Fechar(const std::string& path) {
  timespec times[2] = {{kSegundos - 3600, 0}, {kSegundos, 500000000}};
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

struct Archivo {
  std::string nombre;
  std::size_t talla;
  bool soloLectura = false;
};

// True when the copy at `destino` has the source's bytes, size, last-write time and mode.
bool Igual(const std::string& origen, const std::string& destino) {
  struct stat a {}, b {};
  if (::stat(origen.c_str(), &a) != 0 || ::stat(destino.c_str(), &b) != 0) return false;
  // File times carry hundreds of nanoseconds.
  if (a.st_size != b.st_size || a.st_mtim.tv_sec != b.st_mtim.tv_sec || a.st_mtim.tv_nsec / 100 != b.st_mtim.tv_nsec / 100) {
    return false;
  }
  if ((a.st_mode & 0222) == 0 && (b.st_mode & 0222) != 0) return false;
  return prueba::ReadFile(origen) == prueba::ReadFile(destino);
}

TEST(Copia, FilesOfEverySizeReachThreeDrivesByteForByte) {
  Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 4096}, {u'H', 4096}});
  banco.AsignarOrigen(u'E');
  const std::vector<Archivo> archivos = {
      {"cero", 0},       {"uno", 1},           {"mil", 1000},  {"dos", 2097152}, {"dosmas", 2097153},
      {"grande", 50 * 1048576 + 123}, {"fijo", 1000, true}, {".oculto", 10}};
  const std::int64_t before = BloquesVivos();
  unsigned seed = 1;
  for (const Archivo& a : archivos) {
    const std::string path = banco.Carpeta(u'E') + "/" + a.nombre;
    prueba::WriteFile(path, prueba::Pattern(a.talla, seed++));
    if (a.soloLectura) ::chmod(path.c_str(), 0444);
    Fechar(path);
    banco.EncolarOperaciones(*banco.Registro(a.nombre, {u'F', u'G', u'H'}));
  }
  for (char16_t d : {u'F', u'G', u'H'}) {
    for (const Archivo& a : archivos) {
      const std::string origen = banco.Carpeta(u'E') + "/" + a.nombre;
      const std::string destino = banco.Carpeta(d) + "/" + a.nombre;
      EXPECT_TRUE(Esperar([&] { return Igual(origen, destino); })) << a.nombre << " on " << char(d);
    }
    EXPECT_TRUE(Esperar([&] { return banco.Hilo(d)->GetDPos() == banco.Hilo(d)->GetDFin(); }));
    EXPECT_EQ(banco.Hilo(d)->GetLEC(), 0u);
  }
  banco.Terminar();
  EXPECT_EQ(BloquesVivos(), before) << "every block buffer was released";
}

TEST(Copia, ExistingFilesAndFoldersAreReplacedAndStamped) {
  Banco banco({{u'E', 512}, {u'F', 4096}});
  banco.AsignarOrigen(u'E');
  ::mkdir((banco.Carpeta(u'E') + "/carpeta").c_str(), 0755);
  prueba::WriteFile(banco.Carpeta(u'E') + "/carpeta/vacio", "");
  Fechar(banco.Carpeta(u'E') + "/carpeta/vacio");
  prueba::WriteFile(banco.Carpeta(u'E') + "/carpeta/dato", "nuevo");
  Fechar(banco.Carpeta(u'E') + "/carpeta/dato");
  // The destination already has the folder and longer versions of both files.
  ::mkdir((banco.Carpeta(u'F') + "/carpeta").c_str(), 0755);
  prueba::WriteFile(banco.Carpeta(u'F') + "/carpeta/vacio", "old content");
  prueba::WriteFile(banco.Carpeta(u'F') + "/carpeta/dato", "old and much longer content");
  Fechar(banco.Carpeta(u'E') + "/carpeta");
  for (const char* nombre : {"carpeta", "carpeta/vacio", "carpeta/dato"}) {
    banco.EncolarOperaciones(*banco.Registro(nombre, {u'F'}));
  }
  for (const char* nombre : {"carpeta/vacio", "carpeta/dato"}) {
    EXPECT_TRUE(Esperar([&] {
      return Igual(banco.Carpeta(u'E') + "/" + nombre, banco.Carpeta(u'F') + "/" + nombre);
    })) << nombre;
  }
}

// An ordinary user cannot replace a read-only file; the older copy is made writable first,
// and the drive goes on with the rest.
TEST(Copia, AnOlderReadOnlyCopyIsReplaced) {
  prueba::PermisosDeUsuario usuario;  // Before the workers, which take it over.
  Banco banco({{u'E', 512}, {u'F', 512}});
  banco.ajustes.TiempoError = 2000;
  banco.AsignarOrigen(u'E');
  const std::vector<Archivo> archivos = {{"doc", 5000}, {"vacio", 0}, {"despues", 3000}};
  unsigned seed = 40;
  for (const Archivo& a : archivos) {
    prueba::WriteFile(banco.Carpeta(u'E') + "/" + a.nombre, prueba::Pattern(a.talla, seed++));
    Fechar(banco.Carpeta(u'E') + "/" + a.nombre);
  }
  for (const char* viejo : {"/doc", "/vacio"}) {
    prueba::WriteFile(banco.Carpeta(u'F') + viejo, "an older read-only copy");
    ::chmod((banco.Carpeta(u'F') + viejo).c_str(), 0444);
  }
  for (const Archivo& a : archivos) banco.EncolarRegistro(banco.Registro(a.nombre, {u'F'}));
  for (const Archivo& a : archivos) {
    EXPECT_TRUE(Esperar([&] { return Igual(banco.Carpeta(u'E') + "/" + a.nombre, banco.Carpeta(u'F') + "/" + a.nombre); }))
        << a.nombre;
  }
  EXPECT_EQ(banco.Hilo(u'F')->GetLEC(), 0u);
}

// From 4096-byte sectors to 512-byte ones each destination writes and counts its own
// rounding of the file's rest, so its progress ends exactly at its total.
TEST(Copia, FromLargerSectorsToSmallerTheProgressEndsAtItsTotal) {
  Banco banco({{u'E', 4096}, {u'F', 512}, {u'G', 4096}});
  banco.AsignarOrigen(u'E');
  for (int i = 0; i < 20; ++i) {
    const std::string nombre = "k" + std::to_string(i);
    prueba::WriteFile(banco.Carpeta(u'E') + "/" + nombre, prueba::Pattern(1000 + 37 * i, static_cast<unsigned>(i)));
    banco.EncolarRegistro(banco.Registro(nombre, {u'F', u'G'}));
  }
  prueba::WriteFile(banco.Carpeta(u'E') + "/bloques", prueba::Pattern(2 * 2097152 + 1000, 99));
  banco.EncolarRegistro(banco.Registro("bloques", {u'F', u'G'}));
  for (char16_t d : {u'F', u'G'}) {
    TDHilo* D = banco.Hilo(d);
    EXPECT_TRUE(Esperar([&] { return Igual(banco.Carpeta(u'E') + "/bloques", banco.Carpeta(d) + "/bloques"); })) << char(d);
    EXPECT_TRUE(Esperar([&] { return D->GetDFin() > 0 && D->GetDPos() == D->GetDFin(); }))
        << char(d) << ": " << D->GetDPos() << " of " << D->GetDFin();
    for (int i = 0; i < 20; ++i) {
      const std::string nombre = "/k" + std::to_string(i);
      EXPECT_TRUE(Igual(banco.Carpeta(u'E') + nombre, banco.Carpeta(d) + nombre)) << nombre << " on " << char(d);
    }
  }
  // 20 files of one 512-byte sector or three, and the large file's last 1000 bytes.
  EXPECT_EQ(banco.Hilo(u'F')->GetDFin(), Redondear(2 * 2097152 + 1000, 512) + [] {
    std::int64_t sum = 0;
    for (int i = 0; i < 20; ++i) sum += Redondear(1000 + 37 * i, 512);
    return sum;
  }());
}

// A record's size may be wrong by the time it is read: a damaged job file, or a file written
// meanwhile. The copy is made of the file as its source is then, and every total follows.
TEST(Copia, ARecordIsCopiedAsItsSourceIsWhenItsTurnComes) {
  Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 4096}});
  banco.AsignarOrigen(u'E');
  const struct {
    const char* nombre;
    std::int64_t registrada;  // the size the record says
    std::size_t real;
  } cases[] = {{"enorme", 1LL << 60, 5000}, {"negativo", -5, 3000}, {"crecio", 1000, 3 * 1048576 + 5}, {"encogio", 9000000, 10}};
  unsigned seed = 60;
  for (const auto& c : cases) {
    prueba::WriteFile(banco.Carpeta(u'E') + "/" + c.nombre, prueba::Pattern(c.real, seed++));
    auto R = banco.Registro(c.nombre, {u'F', u'G'});
    R->Talla = c.registrada;
    banco.EncolarRegistro(std::move(R));
  }
  for (char16_t d : {u'F', u'G'}) {
    for (const auto& c : cases) {
      EXPECT_TRUE(Esperar([&] { return Igual(banco.Carpeta(u'E') + "/" + c.nombre, banco.Carpeta(d) + "/" + c.nombre); }))
          << c.nombre << " on " << char(d);
    }
    TDHilo* D = banco.Hilo(d);
    EXPECT_TRUE(Esperar([&] { return D->GetDPos() == D->GetDFin(); })) << char(d) << ": " << D->GetDPos() << " of " << D->GetDFin();
  }
  TDHilo* E = banco.Hilo(u'E');
  EXPECT_TRUE(Esperar([&] { return E->GetDPos() == E->GetDFin(); })) << E->GetDPos() << " of " << E->GetDFin();
}

// A record with a huge size whose source is gone builds no reads for it: the file fails as a
// missing one does, and the copy goes on.
TEST(Copia, AHugeRecordWhoseSourceIsGoneBuildsNoReads) {
  Banco banco({{u'E', 512}, {u'F', 512}});
  banco.ajustes.TiempoError = 300;
  banco.AsignarOrigen(u'E');
  auto R = banco.Registro("ausente", {u'F'});
  R->Talla = 1LL << 60;
  R->Atributos = 0x20;
  banco.EncolarRegistro(std::move(R));
  prueba::WriteFile(banco.Carpeta(u'E') + "/despues", prueba::Pattern(4000, 5));
  banco.EncolarRegistro(banco.Registro("despues", {u'F'}));
  EXPECT_TRUE(Esperar([&] { return Igual(banco.Carpeta(u'E') + "/despues", banco.Carpeta(u'F') + "/despues"); }));
  EXPECT_TRUE(Esperar([&] { return banco.Hilo(u'E')->GetLEC() == win32::WAIT_TIMEOUT; }));
  struct stat st {};
  EXPECT_NE(::stat((banco.Carpeta(u'F') + "/ausente").c_str(), &st), 0) << "nothing was made of it";
}

// The memory gate holds back the reads, so the destinations stand with their file open.
class Detenida : public ::testing::Test {
 protected:
  void SetUp() override {
    banco.AsignarOrigen(u'E');
    prueba::WriteFile(banco.Carpeta(u'E') + "/archivo", prueba::Pattern(5000000, 7));
    banco.ajustes.MemoriaLibre = 4LL << 30;
    win32::InstallMemoryStatus([] {
      win32::MEMORYSTATUSEX status;
      status.ullTotalPhys = 8ull << 30;
      status.ullAvailPhys = 4ull << 30;  // Exactly the reserve: no block may be allocated.
      status.dwMemoryLoad = 50;
      return status;
    });
    banco.EncolarOperaciones(*banco.Registro("archivo", {u'F', u'G'}));
  }
  void TearDown() override { win32::InstallMemoryStatus(nullptr); }
  std::int64_t Talla(char16_t d) {
    struct stat st {};
    return ::stat((banco.Carpeta(d) + "/archivo").c_str(), &st) == 0 ? st.st_size : -1;
  }
  Banco banco{{{u'E', 512}, {u'F', 512}, {u'G', 4096}}};
};

TEST_F(Detenida, ReadsWaitForMemoryButTheOpenGoesAhead) {
  const std::int64_t before = BloquesVivos();
  ASSERT_TRUE(Esperar([&] { return Talla(u'F') == 5000192 && Talla(u'G') == 5001216; }))
      << "each destination created and preallocated the file";
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(BloquesVivos(), before);
  // Nothing written yet: the progress is only the byte held back from the create until the
  // copy's flush.
  EXPECT_EQ(banco.Hilo(u'F')->GetDPos(), -1);
  win32::InstallMemoryStatus(nullptr);
  banco.ajustes.MemoriaLibre = 0;
  for (char16_t d : {u'F', u'G'}) {
    EXPECT_TRUE(Esperar([&] { return Igual(banco.Carpeta(u'E') + "/archivo", banco.Carpeta(d) + "/archivo"); }));
  }
}

TEST_F(Detenida, AWithdrawnDestinationDeletesItsPartialFile) {
  ASSERT_TRUE(Esperar([&] { return Talla(u'F') > 0 && Talla(u'G') > 0; }));
  banco.Retirar(u'F');
  EXPECT_TRUE(Esperar([&] { return Talla(u'F') == -1; })) << "no full-length file of zeros stays behind";
  win32::InstallMemoryStatus(nullptr);
  banco.ajustes.MemoriaLibre = 0;
  EXPECT_TRUE(Esperar([&] { return Igual(banco.Carpeta(u'E') + "/archivo", banco.Carpeta(u'G') + "/archivo"); }));
  EXPECT_EQ(Talla(u'F'), -1);
}

TEST_F(Detenida, ClosingTheProgramDeletesEveryPartialFile) {
  ASSERT_TRUE(Esperar([&] { return Talla(u'F') > 0 && Talla(u'G') > 0; }));
  banco.Terminar();
  EXPECT_EQ(Talla(u'F'), -1);
  EXPECT_EQ(Talla(u'G'), -1);
}

// The close of a file whose source failed deletes the partial file this copy had opened,
// and leaves alone a file of that name it never opened.
TEST(Copia, AnIncompleteCloseDeletesOnlyThePartialFileItOpened) {
  Banco banco({{u'E', 512}, {u'F', 512}});
  banco.AsignarOrigen(u'E');
  TDHilo* F = banco.Hilo(u'F');
  prueba::WriteFile(banco.Carpeta(u'F') + "/viejo", "an older complete copy");
  auto create = std::make_unique<TCrearArchivo>();
  create->DNombre = u"parcial";
  create->FTalla = 5000;
  F->IOList.Add(std::move(create));
  auto close = std::make_unique<TCerrarArchivoIncompleto>();
  close->DNombre = u"parcial";
  F->IOList.Add(std::move(close));
  auto stray = std::make_unique<TCerrarArchivoIncompleto>();
  stray->DNombre = u"viejo";  // No file is open when it runs.
  F->IOList.Add(std::move(stray));
  EXPECT_TRUE(Esperar([&] { return F->IOList.Con([](auto& l) { return l.empty(); }); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  struct stat st {};
  EXPECT_NE(::stat((banco.Carpeta(u'F') + "/parcial").c_str(), &st), 0);
  EXPECT_EQ(prueba::ReadFile(banco.Carpeta(u'F') + "/viejo"), "an older complete copy");
}

// A read that never completes within TiempoError: the wait fails with 258, and the read's
// buffer stays alive until its completion has been taken off the port. The helper-thread
// back end cannot interrupt the read, so the buffer must outlive the time-out.
TEST(Copia, ATransferSlowerThanTheTimeOutIsDrainedBeforeItIsReleased) {
  win32::SelectPortBackend(win32::PortBackend::HelperThreads);
  int beeps = 0;
  std::mutex beepLock;
  win32::InstallBeepHook([&](win32::DWORD) {
    std::lock_guard guard(beepLock);
    ++beeps;
  });
  {
    Banco banco({{u'E', 512}, {u'F', 512}});
    banco.ajustes.TiempoError = 300;
    banco.AsignarOrigen(u'E');
    const std::string fifo = banco.Carpeta(u'E') + "/tubo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    auto R = banco.Registro("tubo", {u'F'});
    R->Talla = 4096;  // A FIFO has no size; the record says what to read.
    R->Atributos = 0x20;
    const std::int64_t before = BloquesVivos();
    banco.EncolarOperaciones(*R);
    ASSERT_TRUE(Esperar([&] { return banco.Hilo(u'E')->GetLEC() == win32::WAIT_TIMEOUT; })) << "the wait timed out";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(BloquesVivos(), before + 1) << "the buffer of the read in flight is kept";
    // Withdrawn while the origin drains, so that the file is not retried; the record the
    // error path puts back must forget it too.
    banco.Retirar(u'F');
    // The read gets its data and ends; only then may its buffer go.
    const std::string data(4096, 'x');
    ASSERT_EQ(::write(writer, data.data(), data.size()), 4096);
    EXPECT_TRUE(Esperar([&] { return BloquesVivos() == before; }));
    EXPECT_TRUE(Esperar([&] {
      std::lock_guard guard(beepLock);
      return beeps == 1;
    })) << "one beep for the failed wait";
    EXPECT_TRUE(Esperar([&] { return banco.Hilo(u'E')->FList.Con([](auto& fl) { return fl.empty(); }); }));
    banco.Terminar();
    ::close(writer);
    EXPECT_EQ(BloquesVivos(), before);
  }
  win32::InstallBeepHook(nullptr);
  win32::SelectPortBackend(win32::PortBackend::Automatic);
}

}  // namespace

namespace {

// A tree through the origin's file list: nested folders, empty files, small files and files
// of several blocks, to four drives of two sector sizes; records queued while the copy
// runs are copied too.
TEST(Copia, ATreeThroughTheFileListReachesFourDrives) {
  Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 4096}, {u'H', 512}, {u'I', 4096}});
  banco.AsignarOrigen(u'E');
  const std::string e = banco.Carpeta(u'E');
  const std::vector<std::string> folders = {"arbol", "arbol/uno", "arbol/uno/dos", "arbol/uno/dos/tres", "arbol/vacia"};
  const std::vector<Archivo> files = {{"arbol/cero", 0},           {"arbol/uno/chico", 700},
                                      {"arbol/uno/dos/bloques", 3 * 2097152 + 4097},
                                      {"arbol/uno/dos/tres/fijo", 9000, true},
                                      {"arbol/uno/dos/tres/.oculto", 1}, {"arbol/uno/vacio", 0}};
  for (const std::string& folder : folders) ::mkdir((e + "/" + folder).c_str(), 0750);
  unsigned seed = 10;
  for (const Archivo& a : files) {
    prueba::WriteFile(e + "/" + a.nombre, prueba::Pattern(a.talla, seed++));
    if (a.soloLectura) ::chmod((e + "/" + a.nombre).c_str(), 0440);
    Fechar(e + "/" + a.nombre);
  }
  const std::vector<char16_t> destinos = {u'F', u'G', u'H', u'I'};
  // Folders before their content, as a walk gives them.
  for (const std::string& folder : folders) banco.EncolarRegistro(banco.Registro(folder, destinos));
  for (const Archivo& a : files) banco.EncolarRegistro(banco.Registro(a.nombre, destinos));
  ASSERT_TRUE(Esperar([&] { return banco.Hilo(u'F')->GetDPos() > 0; }));
  prueba::WriteFile(e + "/arbol/tarde", prueba::Pattern(3000000, 77));
  Fechar(e + "/arbol/tarde");
  banco.EncolarRegistro(banco.Registro("arbol/tarde", destinos));

  for (char16_t d : destinos) {
    for (const Archivo& a : files) {
      EXPECT_TRUE(Esperar([&] { return Igual(e + "/" + a.nombre, banco.Carpeta(d) + "/" + a.nombre); }))
          << a.nombre << " on " << char(d);
    }
    EXPECT_TRUE(Esperar([&] { return Igual(e + "/arbol/tarde", banco.Carpeta(d) + "/arbol/tarde"); })) << char(d);
    struct stat st {};
    EXPECT_EQ(::stat((banco.Carpeta(d) + "/arbol/vacia").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(Esperar([&] { return banco.Hilo(d)->GetDPos() == banco.Hilo(d)->GetDFin(); }));
  }
  win32::WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(win32::GetFileAttributesExW(u"\\\\?\\G:\\arbol\\uno\\dos\\tres\\fijo", &data));
  EXPECT_EQ(data.dwFileAttributes, win32::FILE_ATTRIBUTE_ARCHIVE | win32::FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(win32::GetFileAttributesExW(u"\\\\?\\H:\\arbol\\uno\\dos\\tres\\.oculto", &data));
  EXPECT_EQ(data.dwFileAttributes, win32::FILE_ATTRIBUTE_ARCHIVE | win32::FILE_ATTRIBUTE_HIDDEN);
}

// To an exFAT stick (exfat-fuse on a loop device) and a FAT32 card (the kernel's vfat, where
// it has one): the tree arrives byte for byte with its sizes, and the same-file check a
// second run makes takes every copy for its source. exFAT as exfat-fuse writes it keeps
// last-write times to the whole second, FAT32 to even seconds (in local time), both
// truncated, so a time at 59.9 s stays in its minute.
class Llave : public ::testing::TestWithParam<const char*> {};

TEST_P(Llave, ATreeArrivesAndASecondRunFindsItCopied) {
  const std::string tipo = GetParam();
  prueba::LoopVolume stick(tipo, 64, 512, "LLAVE");
  if (!stick.ok()) GTEST_SKIP() << stick.error();
  const time_t guardado = tipo == "vfat" ? (kSegundos + 3) / 2 * 2 : kSegundos + 3;
  Banco banco({{u'E', 512}, {u'G', 4096}});
  TDHilo* F = banco.DestinoEnVolumen(stick.mountPoint(), u"LLAVE", 0x2046);
  ASSERT_NE(F, nullptr);

  const std::string e = banco.Carpeta(u'E');
  ::mkdir((e + "/fotos").c_str(), 0755);
  const std::vector<Archivo> files = {{"fotos/cero", 0}, {"fotos/uno", 1}, {"fotos/chico", 5000},
                                      {"fotos/grande", 3 * 2097152 + 17}, {"fotos/fijo", 700, true}};
  unsigned seed = 30;
  for (const Archivo& a : files) {
    prueba::WriteFile(e + "/" + a.nombre, prueba::Pattern(a.talla, seed++));
    if (a.soloLectura) ::chmod((e + "/" + a.nombre).c_str(), 0444);
    timespec times[2] = {{kSegundos, 0}, {kSegundos + 3, 900000000}};  // 12:34:59.9
    ::utimensat(AT_FDCWD, (e + "/" + a.nombre).c_str(), times, 0);
  }
  banco.EncolarRegistro(banco.Registro("fotos", {u'G'}));
  for (const Archivo& a : files) {
    auto R = banco.Registro(a.nombre, {u'G'});
    R->DList.push_back(F);
    banco.EncolarRegistro(std::move(R));
  }
  // The folder record went to G alone; the stick's folder is made for its first file.
  ASSERT_TRUE(Esperar([&] { return F->GetDFin() > 0 && F->GetDPos() == F->GetDFin(); }));
  EXPECT_EQ(F->GetLEC(), 0u);
  for (const Archivo& a : files) {
    const std::string copia = stick.mountPoint() + "/" + a.nombre;
    EXPECT_EQ(prueba::ReadFile(copia), prueba::ReadFile(e + "/" + a.nombre)) << a.nombre;
    struct stat st {};
    ASSERT_EQ(::stat(copia.c_str(), &st), 0) << a.nombre;
    EXPECT_EQ(st.st_size, static_cast<off_t>(a.talla)) << a.nombre;
    EXPECT_EQ(st.st_mtim.tv_sec, guardado) << a.nombre;
    std::u16string nombre = win32::NameFromNative(a.nombre);
    std::replace(nombre.begin(), nombre.end(), u'/', u'\\');
    win32::WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(win32::GetFileAttributesExW(Camino(u'E', nombre), &data));
    EXPECT_TRUE(MismoArchivo(Camino(u'F', nombre), static_cast<std::int64_t>(a.talla), data.ftLastWriteTime))
        << a.nombre << " would be copied again";
  }
  // The stick is withdrawn as the window's cancel does; the bench ends the others.
  banco.Hilo(u'E')->EliminarDestinosList.Add(F);
}

INSTANTIATE_TEST_SUITE_P(Tipos, Llave, ::testing::Values("exfat", "vfat"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
