#pragma once

// Physical memory status and page-aligned, committed block buffers.

#include <cstddef>
#include <functional>

#include "platform/types.h"

namespace win32 {

// Total and available physical memory (MemTotal, MemAvailable) and the load in percent.
bool GlobalMemoryStatusEx(MEMORYSTATUSEX* status);

// Anonymous, page-aligned mapping, committed at once and zero-filled. Only MEM_COMMIT |
// MEM_RESERVE allocations without an address are supported; PAGE_NOCACHE has no equivalent.
void* VirtualAlloc(void* address, std::size_t size, DWORD allocationType, DWORD protect);
// With MEM_RELEASE and size 0 releases the whole region VirtualAlloc returned.
bool VirtualFree(void* address, std::size_t size, DWORD freeType);

// Tests replace the memory status with their own (an empty function restores the system's).
void InstallMemoryStatus(std::function<MEMORYSTATUSEX()> source);

}  // namespace win32
