// The status page and its server, through a real HTTP client on loopback.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <httplib.h>
#include <gtest/gtest.h>

#include "platform/locale.h"
#include "tests/support/Fixtures.h"
#include "web/Pagina.h"
#include "web/ServidorWeb.h"

namespace {

TEstadoPagina Estado() {
  TEstadoPagina e;
  e.NombreAplicacion = u"Vertilo";
  e.AppVersion = 42649;
  e.IconoPrograma = std::string("\0\0\1\0", 4);
  e.Dispositivos.push_back({"ico", u"C:\\", u"Disco local (C)  Libre 10.00 Gb"});
  e.Dispositivos.push_back({"ic", u"E:\\", u"Año ñ (E)  Libre 1.00 Gb 50% \u20AC"});
  return e;
}

// The page without the piece that changes with the clock.
std::string SinHora(const std::string& page) {
  const auto at = page.find("&nbspHora:");
  return at == std::string::npos ? page : page.substr(0, at);
}

TEST(Pagina, Base64AsRfc4648Says) {
  const std::pair<std::string, std::string> cases[] = {{"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},    {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}, {std::string("\xFF\xFE\x00", 3), "//4A"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(Base64(in), out);
  EXPECT_EQ(IconoHtml("foo"), u"<img src=\"data:image/ico;base64,Zm9v\">");
}

TEST(Pagina, TheTwentyPiecesInOrder) {
  win32::InstallFormatSettings({u".", u",", "%d/%m/%Y", "%H:%M:%S"});
  const std::u16string page = IdHTTPServerCommandGet(Estado());
  const std::u16string head =
      u"<html><head><title>Vertilo</title></head><body><form method=\"post\" AUTOMPLETE=\"OFF\"><h1>"
      u"<img src=\"data:image/ico;base64,AAABAA==\">Vertilo&nbspversi&oacute;n&nbsp06/10/2016</h1><h3>";
  EXPECT_EQ(page.substr(0, head.size()), head);
  const std::u16string devices = u"<h2>Dispositivos conectados:</h2><h3><img src=\"data:image/ico;base64,aWNv\">&nbsp"
                                 u"Disco local (C)  Libre 10.00 Gb<br><img src=\"data:image/ico;base64,aWM=\">&nbsp";
  EXPECT_NE(page.find(devices), std::u16string::npos);
  const std::u16string date = u"</h3><h3>Fecha:" + win32::FormatShortDate(win32::Now()) + u"&nbspHora:";
  EXPECT_NE(page.find(date), std::u16string::npos);
  const std::u16string tail = u"</h3></form></body></html>";
  EXPECT_EQ(page.substr(page.size() - tail.size()), tail);
  TEstadoPagina empty = Estado();
  empty.Dispositivos.clear();
  EXPECT_NE(IdHTTPServerCommandGet(empty).find(u"<h2>Dispositivos conectados:</h2><h3></h3>"), std::u16string::npos);
}

TEST(Pagina, Latin1WithAQuestionMarkForTheRest) {
  EXPECT_EQ(Latin1(u"añ€b\U0001F600c"), std::string("a\xF1?b?c"));
}

class Servidor : public ::testing::Test {
 protected:
  void SetUp() override {
    puerto = prueba::PuertoLibre();
    servidor.SetPuerto(static_cast<std::uint16_t>(puerto));
    ASSERT_TRUE(servidor.Iniciar());
    ASSERT_TRUE(servidor.Activo());
  }
  httplib::Client Cliente() {
    httplib::Client client("127.0.0.1", puerto);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    return client;
  }
  std::function<TEstadoPagina()> fuente = [this] {
    if (falla) throw std::runtime_error("la lista no se pudo leer");
    return Estado();
  };
  bool falla = false;
  TServidorWeb servidor{[this] { return fuente(); }};
  int puerto = 0;
};

TEST_F(Servidor, EveryMethodAndPathGetsTheSamePage) {
  auto client = Cliente();
  auto get = client.Get("/");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 200);
  EXPECT_EQ(get->get_header_value("Content-Type"), "text/html; charset=ISO-8859-1");
  EXPECT_EQ(get->get_header_value("Content-Length"), std::to_string(get->body.size()));
  EXPECT_NE(get->body.find("A\xF1o \xF1 (E)"), std::string::npos) << "ñ is one ISO-8859-1 byte";
  EXPECT_NE(get->body.find("50% ?<br>"), std::string::npos) << "a character outside the set is a question mark";
  auto post = client.Post("/", "ignored=1", "application/x-www-form-urlencoded");
  auto made = client.Get("/made/up/path?with=query&and=more");
  auto head = client.Head("/");
  ASSERT_TRUE(post && made && head);
  EXPECT_EQ(SinHora(post->body), SinHora(get->body));
  EXPECT_EQ(SinHora(made->body), SinHora(get->body));
  EXPECT_EQ(head->status, 200);
  EXPECT_TRUE(head->body.empty());
  EXPECT_EQ(head->get_header_value("Content-Type"), "text/html; charset=ISO-8859-1");
}

TEST_F(Servidor, AFailureWhileBuildingThePageIsA500WithItsMessage) {
  falla = true;
  auto client = Cliente();
  auto response = client.Get("/");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 500);
  EXPECT_EQ(response->body, "la lista no se pudo leer");
}

TEST_F(Servidor, StopStartAndATakenPort) {
  TServidorWeb other{[] { return Estado(); }};
  other.SetPuerto(static_cast<std::uint16_t>(puerto));
  EXPECT_FALSE(other.Iniciar()) << "the port is taken";
  EXPECT_FALSE(other.Activo());
  servidor.Detener();
  EXPECT_FALSE(servidor.Activo());
  auto client = Cliente();
  client.set_connection_timeout(1);
  EXPECT_FALSE(client.Get("/"));
  ASSERT_TRUE(other.Iniciar()) << "free again";
  auto again = Cliente();
  EXPECT_TRUE(again.Get("/"));
}

// Raw TCP, for clients that do not speak proper HTTP.
int Conectar(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  timeval timeout{15, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return fd;
}

// What the server answers before it closes (empty when it just closes).
std::string Respuesta(int fd) {
  std::string answer;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) answer.append(buffer, static_cast<std::size_t>(n));
  return answer;
}

TEST_F(Servidor, SlowAndMalformedClientsDoNotStopThePageForOthers) {
  // Clients that never end their headers hold connections open.
  std::vector<int> slow;
  for (int i = 0; i < 4; ++i) {
    const int fd = Conectar(puerto);
    ASSERT_GE(fd, 0);
    const std::string partial = "GET / HTTP/1.1\r\nHost: x\r\n";
    ASSERT_EQ(::write(fd, partial.data(), partial.size()), static_cast<ssize_t>(partial.size()));
    slow.push_back(fd);
  }
  auto client = Cliente();
  const auto start = std::chrono::steady_clock::now();
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "others are still served";

  const int big = Conectar(puerto);
  const std::string header = "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(64 * 1024, 'a') + "\r\n\r\n";
  ::send(big, header.data(), header.size(), MSG_NOSIGNAL);
  const std::string bigAnswer = Respuesta(big);
  EXPECT_TRUE(bigAnswer.empty() || bigAnswer.rfind("HTTP/1.1 4", 0) == 0) << bigAnswer.substr(0, 40);
  ::close(big);

  const int garbage = Conectar(puerto);
  const std::string noise = "\x01\x02 not http at all\r\n\r\n";
  ::send(garbage, noise.data(), noise.size(), MSG_NOSIGNAL);
  const std::string garbageAnswer = Respuesta(garbage);
  EXPECT_TRUE(garbageAnswer.empty() || garbageAnswer.rfind("HTTP/1.1 4", 0) == 0) << garbageAnswer.substr(0, 40);
  ::close(garbage);

  // The slow ones are cut off by the read time-out.
  for (int fd : slow) {
    const auto waited = std::chrono::steady_clock::now();
    const std::string answer = Respuesta(fd);
    EXPECT_LT(std::chrono::steady_clock::now() - waited, std::chrono::seconds(TServidorWeb::kSegundosLectura + 5));
    ::close(fd);
  }
  auto after = Cliente().Get("/");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
}

}  // namespace
