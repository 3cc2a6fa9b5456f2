#pragma once

// The status page's HTTP server, IdHTTPServer: any path, GET, POST and HEAD, on a bounded
// pool of connection threads, with bounded requests and time-outs, so that slow or
// malformed clients cannot stop the page for others.

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/Estado.h"

namespace httplib {
class Server;
}

class TServidorWeb : public TServidor {
 public:
  // fuente gives a copy of the window's state for each page; it is called on the server's
  // threads.
  explicit TServidorWeb(std::function<TEstadoPagina()> fuente);
  ~TServidorWeb() override;

  std::uint16_t Puerto() const override;
  void SetPuerto(std::uint16_t puerto) override;
  bool Activo() const override;
  bool Iniciar() override;
  void Detener() override;

  // Limits.
  static constexpr int kHilos = 16;
  static constexpr int kSegundosLectura = 5;
  static constexpr int kSegundosEscritura = 5;
  static constexpr std::size_t kCuerpoMaximo = 64 * 1024;

 private:
  std::function<TEstadoPagina()> fuente_;
  mutable std::mutex lock_;  // Guards puerto_, servidor_ and hilo_; taken on the window's thread.
  std::uint16_t puerto_ = 80;
  std::unique_ptr<httplib::Server> servidor_;
  std::thread hilo_;
};
