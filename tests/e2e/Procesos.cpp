#include "tests/e2e/Procesos.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/drives.h"
#include "tests/support/Fixtures.h"

namespace prueba {

Proceso::Proceso(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(pipe[1], 1);
    for (const auto& [key, value] : env) ::setenv(key.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipe[1]);
  out_ = pipe[0];
  ::fcntl(out_, F_SETFL, O_NONBLOCK);
}

Proceso::~Proceso() {
  if (pid_ > 0 && !terminado_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

void Proceso::Senal(int signal) {
  if (pid_ > 0 && !terminado_) ::kill(pid_, signal);
}

std::optional<int> Proceso::Esperar(int milisegundos) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milisegundos);
  do {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      terminado_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

std::string Proceso::Salida() {
  char buffer[4096];
  ssize_t n = 0;
  while (out_ >= 0 && (n = ::read(out_, buffer, sizeof buffer)) > 0) leido_.append(buffer, static_cast<std::size_t>(n));
  return leido_;
}

std::optional<std::string> PantallaNoDisponible() {
  if (Run("command -v Xvfb >/dev/null 2>&1") != 0) return std::string("Xvfb is not installed");
  return std::nullopt;
}

std::vector<std::string> RaicesListadas() {
  using namespace win32;
  UseSystemDriveTable();
  const DWORD mask = GetLogicalDrives();
  std::vector<std::string> roots;
  for (int i = 0; i < 26; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    const auto letter = static_cast<char16_t>(u'A' + i);
    const std::u16string root{letter, u':', u'\\'};
    const DWORD type = GetDriveTypeW(root);
    DWORD serial = 0;
    if ((type == DRIVE_REMOVABLE || type == DRIVE_FIXED || type == DRIVE_REMOTE) &&
        GetVolumeInformationW(root, nullptr, &serial) && serial != 0) {
      roots.push_back(DriveRoot(letter).value_or(""));
    }
  }
  return roots;
}

Pantalla::Pantalla() {
  if (PantallaNoDisponible()) return;
  xvfb_ = std::make_unique<Proceso>(std::vector<std::string>{"/bin/sh", "-c", "exec Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string out = xvfb_->Salida();
    if (out.find('\n') != std::string::npos) {
      display_ = ":" + out.substr(0, out.find('\n'));
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace prueba
