#pragma once

// What the status page shows and how the window drives its server. The window fills the
// state on its own thread; the page is built from a copy on the server's threads, so it
// never reaches a worker.

#include <cstdint>
#include <string>
#include <vector>

struct TEstadoDispositivo {
  std::string IconoIco;    // the drive's small icon, as the bytes of an ICO file
  std::u16string Letra;    // "X:\"
  std::u16string Linea;    // the worker's status line
};

struct TEstadoPagina {
  std::u16string NombreAplicacion;
  std::int32_t AppVersion = 0;
  std::string IconoPrograma;  // the program file's icon, as the bytes of an ICO file
  std::vector<TEstadoDispositivo> Dispositivos;
};

// The status page's server as the settings see it.
class TServidor {
 public:
  virtual ~TServidor() = default;
  virtual std::uint16_t Puerto() const = 0;
  virtual void SetPuerto(std::uint16_t puerto) = 0;
  virtual bool Activo() const = 0;
  // False when it cannot listen (port taken, no permission).
  virtual bool Iniciar() = 0;
  virtual void Detener() = 0;
};
