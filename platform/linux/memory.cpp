#include "platform/memory.h"

#include <sys/mman.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/linux/internal.h"

namespace win32 {

namespace {

std::mutex memoryLock;  // Guards regions and statusSource.
std::unordered_map<void*, std::size_t> regions;
std::function<MEMORYSTATUSEX()> statusSource;

}  // namespace

bool GlobalMemoryStatusEx(MEMORYSTATUSEX* status) {
  {
    std::lock_guard guard(memoryLock);
    if (statusSource) {
      *status = statusSource();
      return true;
    }
  }
  std::ifstream in("/proc/meminfo");
  std::string key;
  std::uint64_t value = 0;
  std::string unit;
  std::uint64_t total = 0, available = 0, swapTotal = 0, swapFree = 0;
  bool haveAvailable = false;
  while (in >> key >> value) {
    std::getline(in, unit);
    const std::uint64_t bytes = value * 1024;
    if (key == "MemTotal:") total = bytes;
    if (key == "MemAvailable:") {
      available = bytes;
      haveAvailable = true;
    }
    if (key == "SwapTotal:") swapTotal = bytes;
    if (key == "SwapFree:") swapFree = bytes;
  }
  if (total == 0 || !haveAvailable) return detail::Fail(ERROR_NOT_SUPPORTED);
  status->ullTotalPhys = total;
  status->ullAvailPhys = available;
  status->dwMemoryLoad = static_cast<DWORD>((total - std::min(available, total)) * 100 / total);
  status->ullTotalPageFile = total + swapTotal;
  status->ullAvailPageFile = available + swapFree;
  status->ullTotalVirtual = 1ull << 47;
  status->ullAvailVirtual = 1ull << 47;
  status->ullAvailExtendedVirtual = 0;
  return true;
}

void* VirtualAlloc(void* address, std::size_t size, DWORD allocationType, DWORD /*protect*/) {
  if (address != nullptr || size == 0 || (allocationType & MEM_COMMIT) == 0) {
    detail::Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* region = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (region == MAP_FAILED) {
    detail::FailErrno(errno);
    return nullptr;
  }
  std::lock_guard guard(memoryLock);
  regions[region] = size;
  return region;
}

bool VirtualFree(void* address, std::size_t size, DWORD freeType) {
  if (freeType != MEM_RELEASE || size != 0) return detail::Fail(ERROR_INVALID_PARAMETER);
  std::size_t length = 0;
  {
    std::lock_guard guard(memoryLock);
    auto it = regions.find(address);
    if (it == regions.end()) return detail::Fail(ERROR_INVALID_ADDRESS);
    length = it->second;
    regions.erase(it);
  }
  if (::munmap(address, length) != 0) return detail::FailErrno(errno);
  return true;
}

void InstallMemoryStatus(std::function<MEMORYSTATUSEX()> source) {
  std::lock_guard guard(memoryLock);
  statusSource = std::move(source);
}

}  // namespace win32
