#include "window/Aplicacion.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <exception>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/thread.h"
#include "window/LienzoQt.h"

namespace {

// SIGTERM and SIGINT reach the event loop through a socket pair, and close the window the
// way its close button does.
int senales[2] = {-1, -1};

void AlRecibir(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(senales[1], &byte, 1);
}

}  // namespace

// The report belongs to the window, so it opens above it: the window stays on top of
// others, and a report behind it would make the program look frozen.
std::function<void(const QString&)> TAplicacion::Informar = [](const QString& text) {
  QMessageBox box(QMessageBox::Critical, Texto(kNombreAplicacion), text, QMessageBox::Ok, FormDList);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
};

bool TAplicacion::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    Informar(QString::fromUtf8(error.what()));
  } catch (...) {
    Informar(QStringLiteral("Error desconocido"));
  }
  return false;
}

int EjecutarAplicacion(int argc, char** argv, const FabricaServidor& fabrica) {
  TAplicacion application(argc, argv);
  application.setQuitOnLastWindowClosed(true);
  // The icon an installed program finds in the icon theme (hicolor/scalable/apps).
  application.setWindowIcon(QIcon::fromTheme(QStringLiteral("vertilo")));
  if (QIcon::themeName().isEmpty() && QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists()) {
    QIcon::setThemeName(QStringLiteral("Adwaita"));
  }
  // The workers' beep rings the display's bell, on the window's thread.
  win32::InstallBeepHook([](win32::DWORD) {
    QMetaObject::invokeMethod(qApp, [] { QApplication::beep(); }, Qt::QueuedConnection);
  });

  auto* form = new TFormDList(fabrica);
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, senales) == 0) {
    auto* notifier = new QSocketNotifier(senales[0], QSocketNotifier::Read, form);
    QObject::connect(notifier, &QSocketNotifier::activated, form, [form] {
      char byte = 0;
      [[maybe_unused]] const ssize_t n = ::read(senales[0], &byte, 1);
      form->close();
    });
    struct sigaction action {};
    action.sa_handler = AlRecibir;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
  }
  form->show();
  const int code = application.exec();
  win32::InstallBeepHook(nullptr);
  // The destructor gives the workers a bounded time to end before the settings they read go;
  // their threads are joined before the program returns.
  delete form;
  win32::TThread::WaitForAll(2000);
  return code;
}
