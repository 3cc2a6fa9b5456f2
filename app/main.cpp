#include "web/ServidorWeb.h"
#include "window/Aplicacion.h"

int main(int argc, char** argv) {
  return EjecutarAplicacion(argc, argv, [](std::function<TEstadoPagina()> fuente) {
    return std::make_unique<TServidorWeb>(std::move(fuente));
  });
}
