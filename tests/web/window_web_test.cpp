// The status page of the real window, served by the real server.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>
#include <gtest/gtest.h>

#include "engine/Progreso.h"
#include "tests/window/Ventana.h"
#include "tests/support/Fixtures.h"
#include "web/Pagina.h"
#include "web/ServidorWeb.h"
#include "window/LienzoQt.h"

namespace {

using prueba::EsperarVentana;
using prueba::Unidades;
using prueba::Ventana;

FabricaServidor Real() {
  return [](std::function<TEstadoPagina()> fuente) { return std::make_unique<TServidorWeb>(std::move(fuente)); };
}

std::string Pagina(int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(2);
  auto response = client.Get("/");
  return response && response->status == 200 ? response->body : std::string();
}

TEST(PaginaDeLaVentana, ADriveWithoutWorkShowsNameLetterAndCapacityOnly) {
  Ventana v(Unidades{{u'C'}, {u'E', win32::DRIVE_REMOVABLE, u"Ñandú"}}, Real());
  const int port = prueba::PuertoLibre();
  v.form().ValidarVariable(4, Utf16Decimal(port));
  v.form().ValidarVariable(5, u"Si");
  ASSERT_TRUE(EsperarVentana([&] { return Pagina(port).find("(E)") != std::string::npos; }));
  const std::string page = Pagina(port);
  const std::string capacity = Latin1(v.Hilo(u'E')->GetCapacidad());
  EXPECT_NE(page.find("&nbsp\xD1" "and\xFA (E) " + capacity + "<br>"), std::string::npos) << page;
  EXPECT_EQ(page.find('%'), std::string::npos) << "no percentage without work";
  // Each drive's icon is an ICO image.
  const auto icon = page.find("<img src=\"data:image/ico;base64,AAABAA");
  EXPECT_NE(icon, std::string::npos);
}

TEST(PaginaDeLaVentana, TheServerFollowsTheStoredSettingsAndAPortChange) {
  const int port = prueba::PuertoLibre();
  prueba::TempDir folder;
  const std::string head = {'\x99', '\xA6', 0, 0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
  prueba::WriteFile(folder.path() + "/Vertilo.cfg",
                    head + prueba::Contada("3") + prueba::Contada("20") + prueba::Contada("Si") + prueba::Contada(std::to_string(port)) + prueba::Contada("Si"));
  Ventana v(Unidades{{u'C'}}, Real(), folder.path());
  EXPECT_EQ(v.form().Fila(5), u"Si");
  EXPECT_TRUE(EsperarVentana([&] { return !Pagina(port).empty(); })) << "started on the stored port";
  const int moved = prueba::PuertoLibre();
  v.form().ValidarVariable(4, Utf16Decimal(moved));
  EXPECT_TRUE(EsperarVentana([&] { return !Pagina(moved).empty(); })) << "restarted on the new port";
  EXPECT_TRUE(Pagina(port).empty());
  {
    // Another window finds the port taken: it fails silently and shows No.
    prueba::TempDir other;
    prueba::WriteFile(other.path() + "/Vertilo.cfg",
                      head + prueba::Contada("3") + prueba::Contada("20") + prueba::Contada("Si") + prueba::Contada(std::to_string(moved)) + prueba::Contada("Si"));
    Ventana second(Unidades{{u'C'}}, Real(), other.path());
    EXPECT_EQ(second.form().Fila(5), u"No");
  }
  EXPECT_FALSE(Pagina(moved).empty()) << "the first window's server is unharmed";
}

}  // namespace
