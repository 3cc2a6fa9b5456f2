#pragma once

// Processes and an X display for end-to-end tests.

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace prueba {

class Proceso {
 public:
  Proceso(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {});
  ~Proceso();
  Proceso(const Proceso&) = delete;
  Proceso& operator=(const Proceso&) = delete;
  bool ok() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  void Senal(int signal);
  // The exit status, or nothing if it did not end in time.
  std::optional<int> Esperar(int milisegundos);
  // What it printed so far on its standard output.
  std::string Salida();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string leido_;
  bool terminado_ = false;
};

// Xvfb on a display of its own choosing.
class Pantalla {
 public:
  Pantalla();
  bool ok() const { return !display_.empty(); }
  const std::string& display() const { return display_; }

 private:
  std::unique_ptr<Proceso> xvfb_;
  std::string display_;
};

// Why an X server cannot be started here, or nothing.
std::optional<std::string> PantallaNoDisponible();

// The mount roots of the drives the program lists, in its row order, found the way its drive
// refresh finds them.
std::vector<std::string> RaicesListadas();

}  // namespace prueba
