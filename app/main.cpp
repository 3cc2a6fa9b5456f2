#include "window/Aplicacion.h"

int main(int argc, char** argv) { return EjecutarAplicacion(argc, argv); }
