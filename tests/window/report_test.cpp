// The run's report (its counts, its window, its file) and the notice that the run is done.

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QPlainTextEdit>

#include <chrono>
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/strings.h"
#include "tests/window/Ventana.h"
#include "window/Informe.h"

namespace {

using namespace win32;
using prueba::EsperarVentana;
using prueba::Unidades;
using prueba::Ventana;

bool Contiene(const std::string& texto, const std::string& parte) { return texto.find(parte) != std::string::npos; }

// The section of one drive in the report's text.
std::string Seccion(const std::string& texto, const std::string& cabecera) {
  const auto at = texto.find("== " + cabecera + " ==");
  if (at == std::string::npos) return {};
  const auto fin = texto.find("\n== ", at + 1);
  return texto.substr(at, fin == std::string::npos ? std::string::npos : fin - at);
}

// A drop onto three drives, one of which holds one file already: when every copy is on its
// device and verified the caption says so, and the report, in its window and in its file,
// counts each drive exactly.
TEST(Informe, ACopyToThreeDrivesIsCountedShownAndSavedWhenDone) {
  Ventana v(Unidades{{u'E'}, {u'F'}, {u'G'}, {u'H'}});
  const std::string e = v.Carpeta(u'E');
  ::mkdir((e + "/Fotos").c_str(), 0755);
  const std::vector<std::pair<std::string, std::size_t>> files = {
      {"Fotos/a.jpg", 3 * 1048576 + 5}, {"Fotos/b.txt", 4000}, {"Fotos/c.raw", 2 * 2097152 + 1}, {"Fotos/vacio", 0}};
  unsigned seed = 3;
  for (const auto& [name, size] : files) prueba::WriteFile(e + "/" + name, prueba::Pattern(size, seed++));
  // F holds b.txt already, with its size and time: the same file, skipped.
  ::mkdir((v.Carpeta(u'F') + "/Fotos").c_str(), 0755);
  ASSERT_EQ(prueba::Run("cp -p '" + e + "/Fotos/b.txt' '" + v.Carpeta(u'F') + "/Fotos/b.txt'"), 0);
  EXPECT_EQ(v.form().RutaInforme(), "") << "no run before the first drop";
  v.Seleccionar({u'F', u'G', u'H'});
  v.Soltar({e + "/Fotos"});
  ASSERT_TRUE(EsperarVentana([&] { return v.form().windowTitle().contains(QStringLiteral("terminado")); }))
      << v.form().windowTitle().toStdString();
  EXPECT_EQ(v.form().windowTitle().toStdString(), "Vertilo leyendo desde [Disco local]: terminado, 3 unidades listas");

  const TInforme informe = v.form().Informe();
  ASSERT_EQ(informe.Unidades.size(), 3u);
  for (const TInformeUnidad& u : informe.Unidades) {
    const bool f = u.Letra == u'F';
    EXPECT_TRUE(u.Terminada);
    EXPECT_EQ(u.Cuentas.Copiados, f ? 3 : 4) << static_cast<char>(u.Letra);
    EXPECT_EQ(u.Cuentas.BytesCopiados, f ? 3 * 1048576 + 5 + 2 * 2097152 + 1 : 3 * 1048576 + 5 + 4000 + 2 * 2097152 + 1);
    EXPECT_EQ(u.Cuentas.IgualesOmitidos, f ? 1 : 0);
    EXPECT_EQ(u.Cuentas.Verificados, f ? 2 : 3);
    EXPECT_EQ(u.Cuentas.MalVerificados, 0);
    EXPECT_TRUE(u.Cuentas.Fallidos.empty());
  }

  const std::string ruta = v.form().RutaInforme();
  EXPECT_EQ(ruta.substr(0, v.carpetaConfig.size()), v.carpetaConfig) << "beside the settings";
  EXPECT_TRUE(Contiene(ruta, "/Vertilo-")) << ruta;
  EXPECT_EQ(ruta.substr(ruta.size() - 4), ".txt");
  const std::string guardado = prueba::ReadFile(ruta);
  ASSERT_FALSE(guardado.empty()) << "the report was not saved when the run ended";
  EXPECT_TRUE(Contiene(guardado, "informe de la copia desde Disco local (E:)"));
  const std::string f = Seccion(guardado, "Disco local (F:)");
  EXPECT_TRUE(Contiene(f, "Estado: terminada\n")) << f;
  EXPECT_TRUE(Contiene(f, "Copiados: 3 archivos")) << f;
  EXPECT_TRUE(Contiene(f, "Omitidos por ser el mismo archivo: 1\n")) << f;
  EXPECT_TRUE(Contiene(f, "Verificados: 2, no coinciden: 0\n")) << f;
  EXPECT_TRUE(Contiene(f, "Fallidos: 0\n")) << f;
  EXPECT_TRUE(Contiene(f, "Velocidad media: ")) << f;
  EXPECT_TRUE(Contiene(Seccion(guardado, "Disco local (G:)"), "Copiados: 4 archivos")) << guardado;

  v.form().ToolButtonInformeClick();
  auto* texto = v.form().findChild<QPlainTextEdit*>();
  ASSERT_NE(texto, nullptr) << "the report's window";
  EXPECT_EQ(texto->toPlainText().toStdString(), guardado);

  // Another drop to one drive is another end of the run: the file is written again then,
  // and at close.
  prueba::WriteFile(e + "/Fotos/d.bin", prueba::Pattern(3 * 2097152, 9));
  v.Seleccionar({u'G'});
  v.Soltar({e + "/Fotos/d.bin"});
  EXPECT_TRUE(EsperarVentana([&] {
    return Contiene(Seccion(prueba::ReadFile(ruta), "Disco local (G:)"), "Copiados: 5 archivos");
  })) << "not written again at the run's next end";
  v.form().close();
  EXPECT_TRUE(Contiene(Seccion(prueba::ReadFile(ruta), "Disco local (G:)"), "Copiados: 5 archivos"))
      << "the report is saved at close";
}

// A failed file and a cancelled drive: both in the report, and the caption counts failures.
TEST(Informe, FailuresAndCancelledDrivesAreInTheReport) {
  Ventana v(Unidades{{u'E'}, {u'F'}, {u'G'}});
  const std::string e = v.Carpeta(u'E');
  prueba::WriteFile(e + "/bien.txt", prueba::Pattern(3000, 1));
  ::mkdir((e + "/sub").c_str(), 0755);
  prueba::WriteFile(e + "/sub/mal.txt", prueba::Pattern(3000, 2));
  // On G a file stands where the folder goes: the file under it fails on G alone.
  prueba::WriteFile(v.Carpeta(u'G') + "/sub", "no soy una carpeta");
  v.Seleccionar({u'F', u'G'});
  v.Soltar({e + "/bien.txt", e + "/sub"});
  ASSERT_TRUE(EsperarVentana([&] { return v.form().windowTitle().contains(QStringLiteral("terminado")); }))
      << v.form().windowTitle().toStdString();
  EXPECT_TRUE(v.form().windowTitle().endsWith(QStringLiteral("terminado, 1 unidad lista, 1 con fallos")))
      << v.form().windowTitle().toStdString();
  v.Seleccionar({u'F'});
  v.form().ToolButtonCancelarClick();
  const std::string texto = win32::Utf8(TextoInforme(v.form().Informe()));
  EXPECT_TRUE(Contiene(Seccion(texto, "Disco local (F:)"), "Estado: retirada\n")) << texto;
  EXPECT_TRUE(Contiene(Seccion(texto, "Disco local (F:)"), "Copiados: 2 archivos")) << texto;
  EXPECT_EQ(v.form().Informe().Unidades.size(), 2u) << "the cancelled drive is listed once";
  const std::string g = Seccion(texto, "Disco local (G:)");
  EXPECT_TRUE(Contiene(g, "Fallidos: 1\n  sub\\mal.txt: ")) << g;
  EXPECT_TRUE(Contiene(g, "Estado: terminada, con fallos\n")) << g;
}

TEST(Informe, TheFileIsNamedByTheRunsStartInLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(NombreArchivoInforme(1475757296), "Vertilo-20161006-123456.txt");
  EXPECT_EQ(TextoTerminado(1, 0), u"1 unidad lista");
  EXPECT_EQ(TextoTerminado(3, 2), u"3 unidades listas, 2 con fallos");
}

// A notification service of our own on the session bus: it records each Notify call.
class Notificaciones : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QStringLiteral("Notify")) return false;
    llamadas.push_back(message.arguments());
    connection.send(message.createReply(QVariantList{QVariant::fromValue(7u)}));
    return true;
  }
  std::vector<QList<QVariant>> llamadas;
};

// Run under dbus-run-session (its own ctest entry); without a session bus it says so.
TEST(Aviso, TheDesktopIsToldOnceWithTheCountsAndNothingFailsWithoutAService) {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (bus == nullptr || bus[0] == 0) GTEST_SKIP() << "no session bus (its ctest entry runs it under dbus-run-session)";
  QDBusConnection sesion = QDBusConnection::sessionBus();
  ASSERT_TRUE(sesion.isConnected());
  {
    // No service yet: the notice is sent, the error answer is not waited for.
    const auto start = std::chrono::steady_clock::now();
    AvisarEscritorio(u"Vertilo: copia terminada", u"1 unidad lista");
    prueba::Procesar(200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
  Notificaciones servicio;
  ASSERT_TRUE(sesion.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &servicio));
  ASSERT_TRUE(sesion.registerService(QStringLiteral("org.freedesktop.Notifications")));
  {
    Ventana v(Unidades{{u'E'}, {u'F'}, {u'G'}});
    prueba::WriteFile(v.Carpeta(u'E') + "/dato", prueba::Pattern(3 * 1048576, 4));
    v.Seleccionar({u'F', u'G'});
    v.Soltar({v.Carpeta(u'E') + "/dato"});
    ASSERT_TRUE(EsperarVentana([&] { return !servicio.llamadas.empty(); })) << "no notification arrived";
    prueba::Procesar(1000);
    ASSERT_EQ(servicio.llamadas.size(), 1u) << "told once per end";
    const QList<QVariant>& args = servicio.llamadas[0];
    ASSERT_EQ(args.size(), 8);
    EXPECT_EQ(args[0].toString(), QStringLiteral("Vertilo"));
    EXPECT_EQ(args[3].toString(), QStringLiteral("Vertilo: copia terminada"));
    EXPECT_EQ(args[4].toString(), QStringLiteral("2 unidades listas"));
  }
  sesion.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
  sesion.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
}

}  // namespace
