// A real drag: another program drags a folder from a loop-mounted drive onto the running
// program's list, with three destination rows selected (ext4, NTFS, exFAT), and the copies
// arrive. The window is captured while they are being written.

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/drives.h"
#include "platform/strings.h"
#include "tests/e2e/Procesos.h"
#include "tests/support/Fixtures.h"

namespace {

using namespace win32;

int Fila(const std::vector<std::string>& rows, const std::string& root) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i] == root) return static_cast<int>(i);
  }
  return -1;
}

bool Igual(const std::string& a, const std::string& b) {
  struct stat x {}, y {};
  return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_size == y.st_size &&
         prueba::ReadFile(a) == prueba::ReadFile(b);
}

TEST(Arrastre, ARealDragCopiesTheFolderToTheSelectedDrives) {
  if (auto why = prueba::PantallaNoDisponible()) GTEST_SKIP() << *why;
  if (prueba::Run("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
  prueba::LoopVolume origen("ext4", 256, 512, "FOTOS");
  if (!origen.ok()) GTEST_SKIP() << origen.error();
  prueba::LoopVolume uno("ext4", 256, 4096, "RESPALDO");
  prueba::LoopVolume dos("ntfs", 256, 512, "LLAVE");
  prueba::LoopVolume tres("exfat", 256, 512, "TARJETA");
  prueba::LoopVolume otro("ext4", 32, 512, "NO");
  ASSERT_TRUE(uno.ok() && dos.ok() && tres.ok() && otro.ok()) << uno.error() << dos.error() << tres.error() << otro.error();
  const std::string tree = origen.mountPoint() + "/Fotos";
  for (const char* folder : {"", "/2016", "/2016/sub"}) ::mkdir((tree + folder).c_str(), 0755);
  prueba::WriteFile(tree + "/2016/a.jpg", prueba::Pattern(5 * 1048576 + 3, 1));
  prueba::WriteFile(tree + "/2016/b.txt", "bee");
  prueba::WriteFile(tree + "/2016/sub/c.txt", prueba::Pattern(4097, 2));
  // Enough that the capture finds the rows at work.
  const std::vector<std::string> files = {"/2016/a.jpg", "/2016/b.txt", "/2016/sub/c.txt", "/2016/video1.mp4",
                                          "/2016/video2.mp4", "/2016/video3.mp4"};
  for (int i = 1; i <= 3; ++i) {
    prueba::WriteFile(tree + "/2016/video" + std::to_string(i) + ".mp4", prueba::Pattern(50 * 1048576 + i, 10 + i));
  }
  prueba::Run("sync");

  const std::vector<std::string> rows = prueba::RaicesListadas();
  const int rowUno = Fila(rows, uno.mountPoint()), rowDos = Fila(rows, dos.mountPoint()),
            rowTres = Fila(rows, tres.mountPoint());
  ASSERT_GE(rowUno, 0);
  ASSERT_GE(rowDos, 0);
  ASSERT_GE(rowTres, 0);

  prueba::Pantalla pantalla;
  ASSERT_TRUE(pantalla.ok());
  const std::map<std::string, std::string> env = {{"DISPLAY", pantalla.display()}, {"QT_QPA_PLATFORM", "xcb"}};
  prueba::TempDir dir;
  ASSERT_EQ(prueba::Run("cp '" VERTILO_PROGRAMA "' '" + dir.path() + "/vertilo'"), 0);
  prueba::Proceso vertilo({dir.path() + "/vertilo"}, env);
  const std::string x = "DISPLAY=" + pantalla.display() + " xdotool ";
  std::string geometry;
  ASSERT_EQ(prueba::Run("timeout 30 sh -c '" + x + "search --sync --name \"^Vertilo$\" | head -1'", &geometry), 0);
  const std::string window = geometry.substr(0, geometry.find('\n'));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // Its first refresh and first paint.
  ASSERT_EQ(prueba::Run(x + "getwindowgeometry --shell " + window, &geometry), 0);
  int left = 0, top = 0, wide = 483, high = 399;
  std::istringstream fields(geometry);
  for (std::string line; std::getline(fields, line);) {
    if (line.rfind("X=", 0) == 0) left = std::stoi(line.substr(2));
    if (line.rfind("Y=", 0) == 0) top = std::stoi(line.substr(2));
    if (line.rfind("WIDTH=", 0) == 0) wide = std::stoi(line.substr(6));
    if (line.rfind("HEIGHT=", 0) == 0) high = std::stoi(line.substr(7));
  }
  std::string height;
  prueba::Run("DISPLAY=" + pantalla.display() + " '" VERTILO_ARRASTRAR "' --fila", &height);
  const int rowHeight = std::stoi(height);
  const auto centre = [&](int row) { return std::to_string(top + 6 + row * rowHeight + rowHeight / 2); };
  const std::string column = std::to_string(left + 120);
  ASSERT_EQ(prueba::Run(x + "mousemove " + column + " " + centre(rowUno) + " click 1"), 0);
  for (int row : {rowDos, rowTres}) {
    ASSERT_EQ(prueba::Run(x + "keydown ctrl mousemove " + column + " " + centre(row) + " click 1 keyup ctrl"), 0);
  }

  prueba::Proceso source({VERTILO_ARRASTRAR, tree}, env);
  const auto ready = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (source.Salida().find("ready") == std::string::npos && std::chrono::steady_clock::now() < ready) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  prueba::Run(x + "mousemove 100 100 mousedown 1");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int step = 1; step <= 10; ++step) {
    const int px = 100 + (left + 150 - 100) * step / 10, py = 100 + (top + 80 - 100) * step / 10;
    prueba::Run(x + "mousemove " + std::to_string(px) + " " + std::to_string(py));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  prueba::Run(x + "mouseup 1");
  const auto capture = [&] {
    prueba::Run("DISPLAY=" + pantalla.display() + " '" VERTILO_CAPTURA "' '" VERTILO_CAPTURA_ARRASTRE "' " +
                std::to_string(left) + " " + std::to_string(top) + " " + std::to_string(wide) + " " +
                std::to_string(high));
  };
  // Soon after the copy starts, when the rows have a speed and an end time to show.
  struct stat st {};
  for (int i = 0; i < 1500 && ::stat((uno.mountPoint() + "/Fotos/2016").c_str(), &st) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  capture();

  for (const prueba::LoopVolume* volume : {&uno, &dos, &tres}) {
    for (const std::string& file : files) {
      const std::string copy = volume->mountPoint() + "/Fotos" + file;
      bool arrived = false;
      for (int i = 0; i < 600 && !arrived; ++i) {
        arrived = Igual(tree + file, copy);
        if (!arrived) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      EXPECT_TRUE(arrived) << copy;
    }
  }
  EXPECT_NE(::stat((otro.mountPoint() + "/Fotos").c_str(), &st), 0) << "an unselected drive gets nothing";
  vertilo.Senal(SIGTERM);
  EXPECT_EQ(vertilo.Esperar(15000), std::optional<int>(0));
}

}  // namespace
