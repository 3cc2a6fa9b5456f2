#include "web/ServidorWeb.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>

#include "web/Pagina.h"

TServidorWeb::TServidorWeb(std::function<TEstadoPagina()> fuente) : fuente_(std::move(fuente)) {}

TServidorWeb::~TServidorWeb() { Detener(); }

std::uint16_t TServidorWeb::Puerto() const {
  std::lock_guard guard(lock_);
  return puerto_;
}

void TServidorWeb::SetPuerto(std::uint16_t puerto) {
  std::lock_guard guard(lock_);
  puerto_ = puerto;
}

bool TServidorWeb::Activo() const {
  std::lock_guard guard(lock_);
  return servidor_ != nullptr;
}

bool TServidorWeb::Iniciar() {
  std::lock_guard guard(lock_);
  if (servidor_) return true;
  auto servidor = std::make_unique<httplib::Server>();
  servidor->new_task_queue = [] { return new httplib::ThreadPool(kHilos); };
  servidor->set_read_timeout(kSegundosLectura, 0);
  servidor->set_write_timeout(kSegundosEscritura, 0);
  servidor->set_keep_alive_timeout(2);
  servidor->set_keep_alive_max_count(20);
  servidor->set_payload_max_length(kCuerpoMaximo);
  servidor->set_tcp_nodelay(true);  // A small page need not wait for the client's delayed acknowledgement.
  // The library's default also sets SO_REUSEPORT, with which a second program could listen
  // on a port that is taken; the address alone may be reused.
  servidor->set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  const auto pagina = [this](const httplib::Request&, httplib::Response& response) {
    try {
      const std::string body = Latin1(IdHTTPServerCommandGet(fuente_()));
      response.status = 200;
      response.set_content(body, "text/html; charset=ISO-8859-1");
    } catch (const std::exception& error) {
      response.status = 500;
      response.set_content(error.what(), "text/plain; charset=ISO-8859-1");
    }
  };
  servidor->Get(".*", pagina);
  servidor->Post(".*", pagina);
  if (!servidor->bind_to_port("0.0.0.0", puerto_)) return false;
  httplib::Server* raw = servidor.get();
  hilo_ = std::thread([raw] { raw->listen_after_bind(); });
  // A stop before the loop runs would be lost, and the loop would never end.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!raw->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  servidor_ = std::move(servidor);
  return true;
}

void TServidorWeb::Detener() {
  std::unique_ptr<httplib::Server> servidor;
  std::thread hilo;
  {
    std::lock_guard guard(lock_);
    servidor = std::move(servidor_);
    hilo = std::move(hilo_);
  }
  if (!servidor) return;
  servidor->stop();
  if (hilo.joinable()) hilo.join();
}
