#include "window/Aplicacion.h"

#include <QApplication>
#include <QWidget>

#include "platform/thread.h"

int EjecutarAplicacion(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Vertilo"));
  window.resize(483, 399);
  window.show();
  const int code = application.exec();
  // Workers end on their own threads; they get a bounded time to do so.
  win32::TThread::WaitForAll(10000);
  return code;
}
