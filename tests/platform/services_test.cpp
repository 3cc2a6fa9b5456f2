// Memory, errors, formats and the beep.

#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/memory.h"
#include "platform/process.h"

using namespace win32;

namespace {

TEST(Memory, StatusComesFromTheSystemOrFromATest) {
  MEMORYSTATUSEX status;
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_GT(status.ullTotalPhys, 0u);
  EXPECT_LE(status.ullAvailPhys, status.ullTotalPhys);
  EXPECT_LE(status.dwMemoryLoad, 100u);
  InstallMemoryStatus([] {
    MEMORYSTATUSEX fixed;
    fixed.ullTotalPhys = 8ull << 30;
    fixed.ullAvailPhys = 2ull << 30;
    fixed.dwMemoryLoad = 75;
    return fixed;
  });
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_EQ(status.dwMemoryLoad, 75u);
  InstallMemoryStatus(nullptr);
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_NE(status.ullTotalPhys, 8ull << 30);
}

TEST(Memory, BlockBuffersArePageAlignedCommittedAndZero) {
  void* block = VirtualAlloc(nullptr, 2 * 1024 * 1024, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_NOCACHE);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 4096, 0u);
  const auto* bytes = static_cast<const unsigned char*>(block);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[2 * 1024 * 1024 - 1], 0);
  EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(block, 0, MEM_RELEASE));
}

TEST(Errors, LastErrorIsPerThreadAndCodesHaveTexts) {
  SetLastError(112);
  std::thread([] { EXPECT_EQ(GetLastError(), 0u); }).join();
  EXPECT_EQ(GetLastError(), 112u);
  for (DWORD code : {0u, 2u, 3u, 5u, 112u, 258u, 995u, 1117u, 424242u}) {
    EXPECT_FALSE(ErrorMessage(code).empty()) << code;
  }
  EXPECT_NE(ErrorMessage(112), ErrorMessage(5));
}

TEST(Formats, InstalledFormatsAreUsed) {
  InstallFormatSettings({u",", u".", "%d/%m/%Y", "%H:%M:%S"});
  // 42649 is 6 October 2016; a quarter of a day is six in the morning.
  EXPECT_EQ(FormatShortDate(42649.25), u"06/10/2016");
  EXPECT_EQ(FormatLongTime(42649.25), u"06:00:00");
  EXPECT_EQ(UserFormats().decimalSeparator, u",");
  const TDateTime now = Now();
  EXPECT_GT(now, 46000.0);  // After 2025.
}

TEST(Beep, ReachesTheInstalledHook) {
  DWORD heard = 0;
  InstallBeepHook([&](DWORD type) { heard = type; });
  MessageBeep(MB_ICONASTERISK);
  InstallBeepHook(nullptr);
  MessageBeep(MB_ICONASTERISK);
  EXPECT_EQ(heard, 0x40u);
}

}  // namespace
