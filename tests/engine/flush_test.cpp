// Copies made durable in groups, workers woken by their work, and small files through the
// page cache: the state of a copy before and after its drive's flush, and what the row shows.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "engine/DHilo.h"
#include "engine/FRec.h"
#include "engine/OperacionesDestino.h"
#include "engine/OperacionesOrigen.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/ports.h"
#include "platform/strings.h"
#include "tests/engine/Banco.h"

namespace {

using namespace win32;
using prueba::Banco;
using prueba::Esperar;

constexpr time_t kSegundos = 1475757296;  // 6 October 2016 12:34:56 UTC.

FILETIME Tiempo(time_t segundos) { return Int64ToFileTime((static_cast<std::int64_t>(segundos) + 11644473600LL) * 10000000LL); }

// Resident pages of a file in the page cache.
std::size_t PaginasEnCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  struct stat st {};
  ::fstat(fd, &st);
  std::size_t resident = 0;
  if (st.st_size > 0) {
    void* map = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    const std::size_t pages = (static_cast<std::size_t>(st.st_size) + 4095) / 4096;
    std::vector<unsigned char> vec(pages);
    if (map != MAP_FAILED && ::mincore(map, static_cast<std::size_t>(st.st_size), vec.data()) == 0) {
      for (unsigned char v : vec) resident += v & 1;
    }
    if (map != MAP_FAILED) ::munmap(map, static_cast<std::size_t>(st.st_size));
  }
  ::close(fd);
  return resident;
}

// Runs one destination operation on the calling thread and waits for its completion.
bool Ejecutar(TEspera& op, HANDLE port, HANDLE& file, std::uint32_t sector = 512, char16_t letra = u'F') {
  op.ExeIO(port, sector, letra, file);
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  const bool ok = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, 10000);
  return ok && (overlapped == nullptr || op.ORec.Internal == ERROR_SUCCESS);
}

// A copy made the way a destination makes it, to its close; the buffer holds the data.
void Copiar(const std::string& nombre, const std::string& datos, const TFTiempo& tiempo, HANDLE port, HANDLE& file,
            TCerrarArchivoCreado& cierre) {
  const auto talla = static_cast<std::int64_t>(datos.size());
  TCrearArchivo crear;
  crear.DNombre = NameFromNative(nombre);
  crear.FTalla = talla;
  ASSERT_TRUE(Ejecutar(crear, port, file));
  const std::int64_t bloque = Redondear(talla, 4096);
  void* buf = VirtualAlloc(nullptr, static_cast<std::size_t>(bloque), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  for (std::int64_t pos = 0; pos < talla; pos += kBloque) {
    const std::int64_t n = std::min<std::int64_t>(kBloque, talla - pos);
    std::memcpy(buf, datos.data() + pos, static_cast<std::size_t>(n));
    TEscribirArchivo escribir;
    escribir.Buf = buf;
    escribir.FTalla = talla;
    escribir.FPos = pos;
    escribir.BufBytes = Redondear(n, 512);
    escribir.SetOverlappedPos(pos);
    ASSERT_TRUE(Ejecutar(escribir, port, file));
  }
  VirtualFree(buf, 0, MEM_RELEASE);
  cierre.DNombre = crear.DNombre;
  cierre.FTalla = talla;
  cierre.FPos = talla;
  cierre.FTiempo = tiempo;
  cierre.FAtributos = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(Ejecutar(cierre, port, file));
}

// Until its drive is flushed a finished copy has its data and size but not the source's
// last-write time or read-only, so a crash before the flush leaves a copy the next run's
// same-file check does not take for the source; after the flush it has both, and has left
// the page cache.
TEST(Volcado, AFinishedCopyPassesForItsSourceOnlyAfterItsDriveIsFlushed) {
  Banco banco({{u'E', 512}, {u'F', 512}});
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, 0, 0, 1);
  const TFTiempo tiempo{Tiempo(kSegundos - 7200), Tiempo(kSegundos - 3600), Tiempo(kSegundos)};
  const struct {
    const char* nombre;
    std::size_t talla;
  } casos[] = {{"uno", 1}, {"pequeno", 5000}, {"bloque", 2097152}, {"grande", 2097152 + 4097}};
  std::vector<TSello> sellos;
  std::vector<std::string> contenidos;
  unsigned seed = 7;
  for (const auto& c : casos) {
    const std::string datos = prueba::Pattern(c.talla, seed++);
    contenidos.push_back(datos);
    HANDLE file = INVALID_HANDLE_VALUE;
    TCerrarArchivoCreado cierre;
    Copiar(c.nombre, datos, tiempo, port, file, cierre);
    EXPECT_TRUE(cierre.PorSellar) << c.nombre;
    EXPECT_FALSE(MismoArchivo(Camino(u'F', cierre.DNombre), static_cast<std::int64_t>(c.talla), tiempo.ETiempo))
        << c.nombre << " passes for its source before its flush";
    EXPECT_EQ(GetFileAttributesW(Camino(u'F', cierre.DNombre)) & FILE_ATTRIBUTE_READONLY, 0u) << c.nombre;
    sellos.push_back({cierre.DNombre, cierre.FTiempo, cierre.FAtributos, cierre.FTalla, {}});
  }
  TVolcarDestino volcado;
  volcado.Sellos = sellos;
  HANDLE ninguno = INVALID_HANDLE_VALUE;
  ASSERT_TRUE(Ejecutar(volcado, port, ninguno));
  for (const auto& c : casos) {
    const std::string copia = banco.Carpeta(u'F') + "/" + c.nombre;
    const std::u16string camino = Camino(u'F', NameFromNative(c.nombre));
    EXPECT_TRUE(MismoArchivo(camino, static_cast<std::int64_t>(c.talla), tiempo.ETiempo)) << c.nombre;
    EXPECT_NE(GetFileAttributesW(camino) & FILE_ATTRIBUTE_READONLY, 0u) << c.nombre;
    EXPECT_EQ(PaginasEnCache(copia), 0u) << c.nombre << " left pages in the cache";
  }
  // Read last: reading fills the cache.
  for (std::size_t i = 0; i < std::size(casos); ++i) {
    EXPECT_EQ(prueba::ReadFile(banco.Carpeta(u'F') + "/" + casos[i].nombre), contenidos[i]) << casos[i].nombre;
  }
  CloseHandle(port);
}

// A flush that cannot reach its drive fails with the error and stamps nothing.
TEST(Volcado, AFlushThatCannotReachItsDriveStampsNothing) {
  Banco banco({{u'E', 512}, {u'F', 512}});
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, 0, 0, 1);
  const TFTiempo tiempo{Tiempo(kSegundos), Tiempo(kSegundos), Tiempo(kSegundos)};
  HANDLE file = INVALID_HANDLE_VALUE;
  TCerrarArchivoCreado cierre;
  Copiar("dato", prueba::Pattern(3000, 3), tiempo, port, file, cierre);
  const std::string copia = banco.Carpeta(u'F') + "/dato";
  ASSERT_EQ(::rename(banco.Carpeta(u'F').c_str(), (banco.Carpeta(u'F') + ".fuera").c_str()), 0);
  EXPECT_NE(VolcarYSellar(u'F', {{cierre.DNombre, tiempo, FILE_ATTRIBUTE_READONLY, 3000, {}}}, true).Fallo, static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(::rename((banco.Carpeta(u'F') + ".fuera").c_str(), banco.Carpeta(u'F').c_str()), 0);
  EXPECT_FALSE(MismoArchivo(Camino(u'F', cierre.DNombre), 3000, tiempo.ETiempo));
  EXPECT_EQ(GetFileAttributesW(Camino(u'F', cierre.DNombre)) & FILE_ATTRIBUTE_READONLY, 0u);
  CloseHandle(port);
}

// Whenever a drive's row shows all its work done, every copy it made is stamped: the row
// reaches 100 % only after the flush that covers its last copy.
TEST(Volcado, ADriveShowsItsWorkDoneOnlyAfterItsLastFlush) {
  Banco banco({{u'E', 512}, {u'F', 512}, {u'G', 4096}});
  banco.AsignarOrigen(u'E');
  constexpr int kArchivos = 200;
  std::vector<std::string> nombres;
  for (int i = 0; i < kArchivos; ++i) {
    nombres.push_back("a" + std::to_string(i));
    const std::string path = banco.Carpeta(u'E') + "/" + nombres.back();
    prueba::WriteFile(path, prueba::Pattern(static_cast<std::size_t>(100 + i * 37), static_cast<unsigned>(i)));
    timespec times[2] = {{kSegundos, 0}, {kSegundos, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
  const auto sellado = [&](char16_t d) {
    for (const std::string& n : nombres) {
      struct stat st {};
      if (::stat((banco.Carpeta(d) + "/" + n).c_str(), &st) != 0 || st.st_mtim.tv_sec != kSegundos) return false;
    }
    return true;
  };
  std::atomic<bool> fin{false};
  std::atomic<int> vistos{0}, antes{0};
  std::thread vigia([&] {
    bool hecho[2] = {false, false};
    while (!fin.load() && !(hecho[0] && hecho[1])) {
      for (int k = 0; k < 2; ++k) {
        TDHilo* DH = banco.Hilo(k == 0 ? u'F' : u'G');
        if (hecho[k] || DH->GetDFin() == 0 || DH->GetDPos() != DH->GetDFin()) continue;
        hecho[k] = true;
        vistos.fetch_add(1);
        if (!sellado(k == 0 ? u'F' : u'G')) antes.fetch_add(1);
      }
    }
  });
  for (const std::string& n : nombres) banco.EncolarRegistro(banco.Registro(n, {u'F', u'G'}));
  const bool terminados = Esperar([&] { return vistos.load() == 2; });
  fin.store(true);
  vigia.join();
  ASSERT_TRUE(terminados);
  EXPECT_EQ(antes.load(), 0) << "a row showed 100 % before its copies were stamped";
  EXPECT_TRUE(sellado(u'F'));
  EXPECT_TRUE(sellado(u'G'));
}

// The origin reads a small file through the cache and drops its pages at its close, unless
// destinations split off behind the others will have it read again.
TEST(Volcado, ASmallSourceLeavesTheCacheUnlessItIsToBeReadAgain) {
  Banco banco({{u'E', 512}, {u'F', 512}});
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, 0, 0, 1);
  const std::string fuente = banco.Carpeta(u'E') + "/fuente";
  prueba::WriteFile(fuente, prueba::Pattern(20000, 5));
  // Dirty pages are never dropped: a source is read from the device, clean.
  const int fd = ::open(fuente.c_str(), O_RDONLY);
  ::fsync(fd);
  ::close(fd);
  for (const bool otra : {false, true}) {
    TFRec R;
    R.ONombre = R.DNombre = u"fuente";
    R.Talla = 20000;
    R.OtraLectura = otra;
    std::deque<std::unique_ptr<TEspera>> ops;
    R.LlenarIOList(banco.Hilo(u'E'), ops);
    ASSERT_EQ(ops.size(), 3u);
    HANDLE file = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(Ejecutar(*ops[0], port, file, 512, u'E'));
    ASSERT_TRUE(ops[1]->CrearBuf(0));
    ASSERT_TRUE(Ejecutar(*ops[1], port, file, 512, u'E'));
    ASSERT_TRUE(Ejecutar(*ops[2], port, file, 512, u'E'));
    if (otra) {
      EXPECT_GT(PaginasEnCache(fuente), 0u) << "the second read would go to the device again";
    } else {
      EXPECT_EQ(PaginasEnCache(fuente), 0u) << "the source's pages stayed in the cache";
    }
  }
  CloseHandle(port);
}

// A worker's placeholder ends as soon as work is added to a list it takes from, however long
// its turn, and work added before it begins to wait is not missed.
TEST(Despertador, APlaceholderEndsWhenItsWorkerIsGivenWork) {
  const struct {
    const char* caso;
    bool antes;
    bool bloqueo;
  } casos[] = {{"an Add while it waits", false, false},
               {"a locked section while it waits", false, true},
               {"an Add before it waits", true, false}};
  for (const auto& c : casos) {
    TDespertador despertador;
    TListaSegura<int> lista;
    lista.Avisar(&despertador);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, 0, 0, 1);
    TEspera espera;
    espera.Despertador = &despertador;
    espera.Plazo = 3600000;  // An hour: only the work can end it within the test.
    const auto dar = [&] {
      if (c.bloqueo) {
        lista.Bloquear().push_back(1);
        lista.Desbloquear();
      } else {
        lista.Add(1);
      }
    };
    if (c.antes) dar();
    HANDLE nada = INVALID_HANDLE_VALUE;
    std::thread hilo([&] { espera.ExeIO(port, 512, u'E', nada); });
    if (!c.antes) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      dar();
    }
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const bool ended = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, 20000);
    EXPECT_TRUE(ended) << c.caso;
    if (!ended) despertador.Despertar();
    hilo.join();
    CloseHandle(port);
  }
}

}  // namespace
