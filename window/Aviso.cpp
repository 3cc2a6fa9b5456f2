// The desktop notification of a finished run.

#include <sys/stat.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

#include <cstdlib>
#include <string>

#include "window/Informe.h"
#include "window/LienzoQt.h"

void AvisarEscritorio(const std::u16string& resumen, const std::u16string& cuerpo) {
  // Without an address or a session's bus socket, the bus library would try to start a bus
  // of its own.
  const char* direccion = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  const bool socket = runtime != nullptr && ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0;
  if ((direccion == nullptr || direccion[0] == 0) && !socket) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage llamada = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  llamada << QStringLiteral("Vertilo") << 0u << QStringLiteral("vertilo") << Texto(resumen) << Texto(cuerpo)
          << QStringList() << QVariantMap() << -1;
  // The answer (or the error that no service runs) is not waited for.
  bus.asyncCall(llamada);
}
