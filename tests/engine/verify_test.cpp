// Copies read back from their device after the flush, checked against the origin's block
// checksums, and what each drive's report counts.

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <set>

#include <gtest/gtest.h>

#include "engine/DHilo.h"
#include "engine/Verificacion.h"
#include "platform/locale.h"
#include "platform/strings.h"
#include "tests/engine/Banco.h"

namespace {

using prueba::Banco;
using prueba::Esperar;

struct Archivo {
  std::string nombre;
  std::size_t talla;
};

void Encolar(Banco& banco, const std::string& nombre, const std::vector<char16_t>& destinos, TDHilo* extra = nullptr) {
  auto R = banco.Registro(nombre, destinos);
  if (extra != nullptr) R->DList.push_back(extra);
  banco.EncolarRegistro(std::move(R));
}

std::u16string Nombre(const std::string& native) {
  std::u16string n = win32::NameFromNative(native);
  std::replace(n.begin(), n.end(), u'/', u'\\');
  return n;
}

// Where the first byte of a file lies on its file system's device (FIEMAP), or -1.
std::int64_t Fisico(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  alignas(struct fiemap) char space[sizeof(struct fiemap) + sizeof(struct fiemap_extent)] = {};
  auto* map = reinterpret_cast<struct fiemap*>(space);
  map->fm_length = ~0ULL;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  map->fm_extent_count = 1;
  const int r = ::ioctl(fd, FS_IOC_FIEMAP, map);
  ::close(fd);
  if (r != 0 || map->fm_mapped_extents == 0) return -1;
  return static_cast<std::int64_t>(map->fm_extents[0].fe_physical);
}

// Sets the hook for as long as it lives.
class Gancho {
 public:
  explicit Gancho(std::function<void(const std::u16string&)> f) { GanchoAntesDeVerificar = std::move(f); }
  ~Gancho() { GanchoAntesDeVerificar = nullptr; }
};

// Three drives of two sector sizes, verification on (the default): every copy with data is
// read back and matches, and each drive's counts are exact.
TEST(Verificacion, ACopyToThreeDrivesIsVerifiedAndCountedExactly) {
  Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 4096}, {u'H', 512}});
  ASSERT_TRUE(banco.ajustes.Verificar.load()) << "verification is on by default";
  banco.AsignarOrigen(u'E');
  const std::string e = banco.Carpeta(u'E');
  ::mkdir((e + "/carpeta").c_str(), 0755);
  const std::vector<Archivo> files = {{"cero", 0},          {"uno", 1},
                                      {"chico", 5000},      {"justo", 2097152},
                                      {"grande", 2 * 2097152 + 77}, {"carpeta/dentro", 3000}};
  unsigned seed = 80;
  std::int64_t bytes = 0;
  for (const Archivo& a : files) {
    prueba::WriteFile(e + "/" + a.nombre, prueba::Pattern(a.talla, seed++));
    bytes += static_cast<std::int64_t>(a.talla);
  }
  ::chmod((e + "/uno").c_str(), 0444);
  const win32::TDateTime antes = win32::Now();
  Encolar(banco, "carpeta", {u'F', u'G', u'H'});
  for (const Archivo& a : files) Encolar(banco, a.nombre, {u'F', u'G', u'H'});
  for (char16_t letra : {u'F', u'G', u'H'}) {
    TDHilo* D = banco.Hilo(letra);
    ASSERT_TRUE(Esperar([&] { return D->Cuentas().Copiados == 6 && D->GetDPos() == D->GetDFin(); }))
        << static_cast<char>(letra) << " copied " << D->Cuentas().Copiados;
    const TCuentas c = D->Cuentas();
    EXPECT_EQ(c.BytesCopiados, bytes);
    EXPECT_EQ(c.Verificados, 5) << "every copy with data is read back";
    EXPECT_EQ(c.MalVerificados, 0);
    EXPECT_TRUE(c.Fallidos.empty());
    EXPECT_EQ(c.IgualesOmitidos + c.ListadosOmitidos, 0);
    EXPECT_GE(c.Inicio, antes);
    EXPECT_GE(c.Fin, c.Inicio);
    EXPECT_EQ(D->AvisoDefectuosa(), u"");
    for (const Archivo& a : files) {
      EXPECT_EQ(prueba::ReadFile(banco.Carpeta(letra) + "/" + a.nombre), prueba::ReadFile(e + "/" + a.nombre)) << a.nombre;
    }
  }
}

// A copy altered on the device after its flush and before its read-back (here: through the
// loop device's backing file) is caught: deleted, listed with ERROR_CRC, left out of the
// drive's totals, and copied again by the next run. Three such copies call the drive bad.
TEST(Verificacion, ACopyDamagedOnItsDeviceIsCaughtDeletedAndCopiedAgain) {
  prueba::LoopVolume stick("ext4", 64, 512, "LLAVE");
  if (!stick.ok()) GTEST_SKIP() << stick.error();
  Banco banco({{u'E', 512}, {u'G', 4096}});
  TDHilo* F = banco.DestinoEnVolumen(stick.mountPoint(), u"LLAVE", 0x6046);
  ASSERT_NE(F, nullptr);
  const std::string e = banco.Carpeta(u'E');
  const std::vector<Archivo> files = {
      {"bueno", 3 * 1048576}, {"mal1", 3 * 2097152 + 5}, {"mal2", 2097153}, {"mal3", 5000}};
  const std::set<std::string> malos = {"mal1", "mal2", "mal3"};
  unsigned seed = 90;
  for (const Archivo& a : files) prueba::WriteFile(e + "/" + a.nombre, prueba::Pattern(a.talla, seed++));

  std::mutex lock;
  std::vector<std::string> danados, leidos;
  {
    Gancho gancho([&](const std::u16string& camino) {
      const std::string nombre = win32::Utf8(camino.substr(camino.find_last_of(u'\\') + 1));
      std::lock_guard guard(lock);
      leidos.push_back(nombre);
      if (malos.count(nombre) == 0 || camino.find(u"F:") == std::u16string::npos) return;
      const std::int64_t at = Fisico(stick.mountPoint() + "/" + nombre);
      if (at < 0) return;
      const int image = ::open(stick.image().c_str(), O_WRONLY);
      const char basura[8] = {'\x5a', '\x5a', '\x5a', '\x5a', '\x5a', '\x5a', '\x5a', '\x5a'};
      if (image >= 0 && ::pwrite(image, basura, sizeof basura, at + 1000) == sizeof basura) danados.push_back(nombre);
      if (image >= 0) ::close(image);
    });
    for (const Archivo& a : files) Encolar(banco, a.nombre, {u'G'}, F);
    ASSERT_TRUE(Esperar([&] { return F->Cuentas().Copiados + F->Cuentas().MalVerificados == 4; }, 30000));
    ASSERT_TRUE(Esperar([&] { return banco.Hilo(u'G')->Cuentas().Copiados == 4; }, 30000));
  }
  {
    std::lock_guard guard(lock);
    std::sort(danados.begin(), danados.end());
    ASSERT_EQ(danados, std::vector<std::string>(malos.begin(), malos.end())) << "the hook could not damage them";
  }
  TCuentas c = F->Cuentas();
  EXPECT_EQ(c.Copiados, 1);
  EXPECT_EQ(c.Verificados, 1);
  EXPECT_EQ(c.MalVerificados, 3);
  std::set<std::u16string> fallidos;
  for (const auto& [nombre, code] : c.Fallidos) {
    fallidos.insert(nombre);
    EXPECT_EQ(code, win32::ERROR_CRC) << win32::Utf8(nombre);
  }
  EXPECT_EQ(fallidos, (std::set<std::u16string>{u"mal1", u"mal2", u"mal3"}));
  EXPECT_EQ(F->GetErrorArchivo(), win32::ERROR_CRC) << "the row does not say a copy was bad";
  EXPECT_EQ(F->AvisoDefectuosa(), u" Unidad defectuosa: 3 copias no coinciden");
  EXPECT_NE(F->GetWebStr().find(u"Unidad defectuosa"), std::u16string::npos);
  EXPECT_EQ(F->GetLEC(), 0u) << "the drive went on";
  EXPECT_TRUE(Esperar([&] { return F->GetDPos() == F->GetDFin(); })) << "the bad copies stayed in the totals";
  EXPECT_EQ(prueba::ReadFile(stick.mountPoint() + "/bueno"), prueba::ReadFile(e + "/bueno"));
  for (const std::string& nombre : malos) {
    EXPECT_NE(::access((stick.mountPoint() + "/" + nombre).c_str(), F_OK), 0) << nombre << " was kept";
    EXPECT_EQ(prueba::ReadFile(banco.Carpeta(u'G') + "/" + nombre), prueba::ReadFile(e + "/" + nombre))
        << "the other drive's copy";
  }

  // The next run: the same-file check sends only the deleted copies, which now arrive whole.
  for (const Archivo& a : files) {
    auto R = banco.Registro(a.nombre, {});
    const bool igual = MismoArchivo(Camino(u'F', Nombre(a.nombre)), R->Talla, R->Tiempo.ETiempo);
    EXPECT_EQ(igual, malos.count(a.nombre) == 0) << a.nombre;
    if (!igual) {
      R->DList.push_back(F);
      banco.EncolarRegistro(std::move(R));
    }
  }
  ASSERT_TRUE(Esperar([&] { return F->Cuentas().Copiados == 4; }, 30000));
  c = F->Cuentas();
  EXPECT_EQ(c.Verificados, 4);
  EXPECT_EQ(c.MalVerificados, 3) << "the run's earlier failures stay counted";
  for (const Archivo& a : files) {
    EXPECT_EQ(prueba::ReadFile(stick.mountPoint() + "/" + a.nombre), prueba::ReadFile(e + "/" + a.nombre)) << a.nombre;
  }
  banco.Hilo(u'E')->EliminarDestinosList.Add(F);
}

// With verification off nothing is read back, and the copies still count.
TEST(Verificacion, OffNothingIsReadBack) {
  Banco banco({{u'E', 512}, {u'F', 512}});
  banco.ajustes.Verificar = false;
  banco.AsignarOrigen(u'E');
  prueba::WriteFile(banco.Carpeta(u'E') + "/dato", prueba::Pattern(3 * 1048576, 7));
  int llamadas = 0;
  std::mutex lock;
  Gancho gancho([&](const std::u16string&) {
    std::lock_guard guard(lock);
    ++llamadas;
  });
  Encolar(banco, "dato", {u'F'});
  TDHilo* F = banco.Hilo(u'F');
  ASSERT_TRUE(Esperar([&] { return F->Cuentas().Copiados == 1; }));
  EXPECT_EQ(F->Cuentas().Verificados, 0);
  std::lock_guard guard(lock);
  EXPECT_EQ(llamadas, 0);
}

}  // namespace
