#include "platform/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/linux/internal.h"

namespace win32 {

namespace {

std::mutex memoryLock;  // Guards regions, statusSource, lastStatus, lastRead and mappedSince.
std::unordered_map<void*, std::size_t> regions;
std::function<MEMORYSTATUSEX()> statusSource;

// /proc/meminfo costs a good part of a millisecond to make and parse, and the origin asks
// before every block: a reading is reused for a few milliseconds, less what this process
// mapped since.
constexpr auto kReuse = std::chrono::milliseconds(10);
MEMORYSTATUSEX lastStatus{};
std::chrono::steady_clock::time_point lastRead{};
std::int64_t mappedSince = 0;

bool ReadMeminfo(MEMORYSTATUSEX* status) {
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

}  // namespace

bool GlobalMemoryStatusEx(MEMORYSTATUSEX* status) {
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard guard(memoryLock);
    if (statusSource) {
      *status = statusSource();
      return true;
    }
    if (lastRead.time_since_epoch().count() != 0 && now - lastRead < kReuse) {
      *status = lastStatus;
      const std::uint64_t mapped = static_cast<std::uint64_t>(std::max<std::int64_t>(mappedSince, 0));
      status->ullAvailPhys -= std::min(mapped, status->ullAvailPhys);
      return true;
    }
  }
  MEMORYSTATUSEX fresh{};
  if (!ReadMeminfo(&fresh)) return false;
  *status = fresh;
  std::lock_guard guard(memoryLock);
  lastStatus = fresh;
  lastRead = now;
  mappedSince = 0;
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
  mappedSince += static_cast<std::int64_t>(size);
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
    mappedSince -= static_cast<std::int64_t>(length);
  }
  if (::munmap(address, length) != 0) return detail::FailErrno(errno);
  return true;
}

void InstallMemoryStatus(std::function<MEMORYSTATUSEX()> source) {
  std::lock_guard guard(memoryLock);
  statusSource = std::move(source);
}

}  // namespace win32
