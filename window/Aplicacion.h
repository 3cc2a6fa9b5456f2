#pragma once

#include <QApplication>

#include <functional>

#include "window/FormDList.h"

// The application object: a failure that escapes a handler is shown with its message, and
// the window goes on.
class TAplicacion : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
  // How the failure is shown: a message box, unless a test listens instead.
  static std::function<void(const QString&)> Informar;
};

// Runs the program: the one window and its event loop; returns the exit code once the
// window is closed and the worker threads have ended (or a bounded wait for them ran out).
int EjecutarAplicacion(int argc, char** argv, const FabricaServidor& fabrica);
