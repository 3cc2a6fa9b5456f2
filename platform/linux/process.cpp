#include "platform/process.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <mutex>

namespace win32 {

namespace {

std::atomic<DWORD> errorMode{0};
std::mutex beepLock;  // Guards beepHook.
std::function<void(DWORD)> beepHook;

}  // namespace

DWORD SetErrorMode(DWORD mode) { return errorMode.exchange(mode); }

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

void MessageBeep(DWORD type) {
  std::function<void(DWORD)> hook;
  {
    std::lock_guard guard(beepLock);
    hook = beepHook;
  }
  if (hook) hook(type);
}

void InstallBeepHook(std::function<void(DWORD)> hook) {
  std::lock_guard guard(beepLock);
  beepHook = std::move(hook);
}

}  // namespace win32
