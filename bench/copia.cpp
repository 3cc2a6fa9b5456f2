// Benchmark driver.
//
//   vertilo_bench copy SOURCE DEST...   copies the tree SOURCE into every DEST through the
//                                       engine and prints its figures
//   vertilo_bench run COMMAND           runs a shell command and prints the same figures
//   vertilo_bench web SECONDS CLIENTS SOURCE DEST...
//                                       copies as above while CLIENTS connections ask the
//                                       status page server on loopback for the page for
//                                       SECONDS, and prints requests per second and errors
//
// Figures: wall seconds, CPU seconds (user + system, of the process or of the command and
// its children), peak resident memory, and for a copy each destination's finish time.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/Ajustes.h"
#include "engine/DHilo.h"
#include "engine/FRec.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "web/Pagina.h"
#include "web/ServidorWeb.h"

#include <httplib.h>
#include <atomic>
#include <mutex>

using namespace win32;
using Reloj = std::chrono::steady_clock;

namespace {

double Segundos(Reloj::time_point desde) { return std::chrono::duration<double>(Reloj::now() - desde).count(); }

double Cpu(const rusage& r) {
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The sector size of the mounted drive a folder is on.
DWORD SectorDe(const std::string& folder) {
  UseSystemDriveTable();
  GetLogicalDrives();
  auto path = DrivePath(folder);
  if (!path) return 512;
  const std::u16string root{(*path)[0], u':', u'\\'};
  DWORD perCluster = 0, perSector = 512, free = 0, total = 0;
  GetDiskFreeSpaceW(root, &perCluster, &perSector, &free, &total);
  return perSector;
}

// Every entry below the folder, folders before their content.
void Recorrer(const std::u16string& carpeta, const std::u16string& relativo, std::vector<std::unique_ptr<TFRec>>& out) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(carpeta + u"*.*", &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (data.cFileName == u"." || data.cFileName == u"..") continue;
    auto R = std::make_unique<TFRec>();
    R->ONombre = R->DNombre = relativo + data.cFileName;
    R->Talla = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    R->Atributos = data.dwFileAttributes;
    R->Tiempo = {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime};
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::u16string name = data.cFileName;
    out.push_back(std::move(R));
    if (folder) Recorrer(carpeta + name + u"\\", relativo + name + u"\\", out);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

// The program's own same-file check: file systems such as exFAT keep coarser times.
bool Copiado(const std::u16string& path, const TFRec& R) { return MismoArchivo(path, R.Talla, R.Tiempo.ETiempo); }

// While the copy runs, `durante` is called with the workers (origin first) and a flag that
// is raised when every destination has finished; it returns when its own work is done.
int Copiar(const std::string& source, const std::vector<std::string>& dests,
           const std::function<void(const std::vector<TDHilo*>&, const std::atomic<bool>&)>& durante = {}) {
  std::vector<TestDrive> table;
  table.push_back({u'E', source, DRIVE_FIXED, u"Origen", 0xE0, SectorDe(source)});
  for (std::size_t i = 0; i < dests.size(); ++i) {
    const auto letter = static_cast<char16_t>(u'F' + i);
    table.push_back({letter, dests[i], DRIVE_FIXED, u"", 0xF0 + static_cast<DWORD>(i), SectorDe(dests[i])});
  }
  DWORD maxSector = 4096;
  for (const TestDrive& d : table) maxSector = std::max(maxSector, d.bytesPerSector);
  InstallDriveTable(table);

  std::vector<std::unique_ptr<TFRec>> records;
  Recorrer(u"\\\\?\\E:\\", u"", records);
  // The last file tells when a destination is done: each one copies in record order.
  std::size_t last = records.size();
  while (last > 0 && (records[last - 1]->Atributos & FILE_ATTRIBUTE_DIRECTORY) != 0) --last;
  if (last == 0) {
    std::fprintf(stderr, "no files under %s\n", source.c_str());
    return 1;
  }
  const TFRec finalRecord = *records[last - 1];

  TAjustes ajustes;
  MEMORYSTATUSEX status;
  GlobalMemoryStatusEx(&status);
  ajustes.MemoriaTotal = static_cast<std::int64_t>(status.ullTotalPhys);
  ajustes.MemoriaLibre = std::max<std::int64_t>(ajustes.MemoriaTotal * 3 / 10, 1LL << 30);
  // Copies are read back as the program does unless VERTILO_BENCH_VERIFICAR=0.
  const char* verificar = std::getenv("VERTILO_BENCH_VERIFICAR");
  ajustes.Verificar = verificar == nullptr || std::string(verificar) != "0";

  const auto start = Reloj::now();
  std::vector<TDHilo*> workers;
  for (const TestDrive& d : table) {
    auto* worker = new TDHilo(ajustes);
    THRec rec;
    rec.Nombre = d.label;
    rec.Letra = d.letter;
    rec.ID = d.serial;
    rec.SectorSize = d.bytesPerSector;
    rec.MaxSectorSize = maxSector;
    worker->SetAppRec(rec);
    workers.push_back(worker);
  }
  for (TDHilo* worker : workers) {
    while (worker->Identidad().Letra == 0x85) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  TDHilo* origin = workers[0];
  origin->EsOrigen();
  for (std::size_t i = 1; i < workers.size(); ++i) {
    workers[i]->AsignarOD(origin);
    workers[i]->EsDestino();
  }
  // As the window queues a drop: under the list's lock, which wakes the origin when it ends.
  std::deque<std::unique_ptr<TFRec>>& fl = origin->LockFList();
  for (auto& R : records) {
    R->DList.assign(workers.begin() + 1, workers.end());
    R->AddDFin();
    origin->AddDFin(origin->DTalla(R->Talla));
    fl.push_back(std::move(R));
  }
  origin->UnLockFList();

  std::atomic<bool> copied{false};
  std::thread side;
  if (durante) side = std::thread([&] { durante(workers, copied); });
  std::vector<double> finished(dests.size(), 0.0);
  std::size_t left = dests.size();
  while (left > 0) {
    for (std::size_t i = 0; i < dests.size(); ++i) {
      if (finished[i] != 0.0) continue;
      const std::u16string path = std::u16string(u"\\\\?\\") + static_cast<char16_t>(u'F' + i) + u":\\" + finalRecord.DNombre;
      TDHilo* D = workers[i + 1];
      if (D->GetDFin() > 0 && D->GetDPos() >= D->GetDFin() && Copiado(path, finalRecord)) {
        finished[i] = Segundos(start);
        --left;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const double wall = Segundos(start);
  copied = true;
  if (side.joinable()) side.join();
  for (std::size_t i = 1; i < workers.size(); ++i) origin->EliminarDestinosList.Add(workers[i]);
  origin->Terminate();
  TThread::WaitForAll(30000);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("wall=%.2f cpu=%.2f maxrss_mb=%.1f", wall, Cpu(usage), usage.ru_maxrss / 1024.0);
  for (std::size_t i = 0; i < dests.size(); ++i) std::printf(" finish%zu=%.2f", i + 1, finished[i]);
  std::printf("\n");
  return 0;
}

int Ejecutar(const std::string& command) {
  const auto start = Reloj::now();
  const pid_t child = fork();
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double wall = Segundos(start);
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  std::printf("wall=%.2f cpu=%.2f maxrss_mb=%.1f\n", wall, Cpu(usage), usage.ru_maxrss / 1024.0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// The page server under load while a copy runs (for at most SECONDS): the state is refreshed
// every 300 ms, as the window's timer does.
int Web(int seconds, int clients, const std::string& source, const std::vector<std::string>& dests) {
  return Copiar(source, dests, [&](const std::vector<TDHilo*>& workers, const std::atomic<bool>& copied) {
    std::mutex lock;
    TEstadoPagina estado;
    estado.NombreAplicacion = u"Vertilo";
    estado.AppVersion = 42649;
    TServidorWeb server([&] {
      std::lock_guard guard(lock);
      return estado;
    });
    for (std::uint16_t port = 18080; port < 18180; ++port) {
      server.SetPuerto(port);
      if (server.Iniciar()) break;
    }
    const int port = server.Puerto();
    std::atomic<bool> done{false};
    std::atomic<long> ok{0}, failed{0};
    std::thread timer([&] {
      while (!done) {
        TEstadoPagina next = estado;
        next.Dispositivos.clear();
        for (TDHilo* worker : workers) {
          worker->OnTime();
          next.Dispositivos.push_back({"ico", std::u16string{worker->Identidad().Letra, u':', u'\\'}, worker->GetWebStr()});
        }
        {
          std::lock_guard guard(lock);
          estado = std::move(next);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
    });
    const auto start = Reloj::now();
    std::vector<std::thread> load;
    for (int c = 0; c < clients; ++c) {
      load.emplace_back([&] {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);
        client.set_read_timeout(5);
        while (!copied && Segundos(start) < seconds) {
          auto response = client.Get("/");
          (response && response->status == 200 ? ok : failed).fetch_add(1);
        }
      });
    }
    for (std::thread& t : load) t.join();
    const double took = Segundos(start);
    done = true;
    timer.join();
    server.Detener();
    std::printf("load_seconds=%.2f requests=%ld errors=%ld requests_per_second=%.0f\n", took, ok.load(), failed.load(),
                ok.load() / took);
  });
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "copy" && argc >= 4) {
    return Copiar(argv[2], std::vector<std::string>(argv + 3, argv + argc));
  }
  if (mode == "run" && argc == 3) return Ejecutar(argv[2]);
  if (mode == "web" && argc >= 6) {
    return Web(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], std::vector<std::string>(argv + 5, argv + argc));
  }
  std::fprintf(stderr, "usage: %s copy SOURCE DEST... | run COMMAND | web SECONDS CLIENTS SOURCE DEST...\n", argv[0]);
  return 2;
}
