// The real program under Xvfb: it starts, lists the machine's drives, and closes cleanly
// on SIGTERM, saving its configuration.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <httplib.h>
#include <gtest/gtest.h>

#include "platform/drives.h"
#include "tests/e2e/Procesos.h"
#include "tests/support/Fixtures.h"

namespace {

using namespace win32;

int Contar(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Programa, StartsListsTheDrivesAndClosesCleanlyOnSigterm) {
  if (auto why = prueba::PantallaNoDisponible()) GTEST_SKIP() << *why;
  prueba::Pantalla pantalla;
  ASSERT_TRUE(pantalla.ok()) << "Xvfb did not start";
  prueba::TempDir dir;
  // The configuration lives next to the program: a copy of it gets a folder of its own.
  ASSERT_EQ(prueba::Run("cp '" VERTILO_PROGRAMA "' '" + dir.path() + "/vertilo'"), 0);
  const int port = prueba::PuertoLibre();
  const std::string head = {'\x99', '\xA6', 0, 0, '\xFF', '\xA0', '\x80', 0, 0, '\xD2', '\xD2', 0, '\xD2', 0, '\xD2', 0};
  prueba::WriteFile(dir.path() + "/Vertilo.cfg",
                    head + prueba::Contada("2") + prueba::Contada("15") + prueba::Contada("Si") + prueba::Contada(std::to_string(port)) + prueba::Contada("Si"));
  prueba::Proceso vertilo({dir.path() + "/vertilo"}, {{"DISPLAY", pantalla.display()}, {"QT_QPA_PLATFORM", "xcb"}});
  ASSERT_TRUE(vertilo.ok());
  std::string page;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(1);
    auto response = client.Get("/");
    if (response && response->status == 200 && response->body.find("(C)") != std::string::npos) {
      page = response->body;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_FALSE(page.empty()) << "the program came up and served its page";
  const auto section = page.substr(page.find("<h2>Dispositivos conectados:</h2>"));
  EXPECT_EQ(Contar(section.substr(0, section.find("</h3>")), "<br>"), static_cast<int>(prueba::RaicesListadas().size())) << "one row per drive";
  prueba::Run("DISPLAY=" + pantalla.display() + " '" VERTILO_CAPTURA "' '" VERTILO_CAPTURA_SALIDA "'");

  vertilo.Senal(SIGTERM);
  const auto code = vertilo.Esperar(15000);
  ASSERT_TRUE(code.has_value()) << "it ends after SIGTERM";
  EXPECT_EQ(*code, 0);
  const std::string saved = prueba::ReadFile(dir.path() + "/Vertilo.cfg");
  EXPECT_NE(saved.find(prueba::Contada(std::to_string(port)) + prueba::Contada("Si")), std::string::npos) << "the close saved the settings";
}

}  // namespace
