#pragma once

#include "window/FormDList.h"

// Runs the program: the one window and its event loop; returns the exit code once the
// window is closed and the worker threads have ended (or a bounded wait for them ran out).
int EjecutarAplicacion(int argc, char** argv, const FabricaServidor& fabrica);
