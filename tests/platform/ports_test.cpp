// The completion port suite, run against both back ends.

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/ports.h"
#include "tests/support/Fixtures.h"

using namespace win32;

namespace {

constexpr DWORD kMiB2 = 2 * 1024 * 1024;
constexpr DWORD kReadFlags = 0x60000080;   // overlapped | no buffering | normal
constexpr DWORD kWriteFlags = 0x68000000;  // overlapped | no buffering | sequential scan

struct Buffer {
  explicit Buffer(std::size_t size) : size(size), data(static_cast<char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
  ~Buffer() { VirtualFree(data, 0, MEM_RELEASE); }
  std::size_t size;
  char* data;
};

class Ports : public ::testing::TestWithParam<PortBackend> {
 protected:
  void SetUp() override {
    SelectPortBackend(GetParam());
    if (GetParam() == PortBackend::IoUring && ActivePortBackend() != PortBackend::IoUring) {
      GTEST_SKIP() << "this kernel refuses io_uring";
    }
    InstallDriveTable({{u'T', folder.path(), DRIVE_FIXED, u"", 0x7, 512}});
    port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, 0, 0, 1);
    ASSERT_NE(port, 0);
  }
  void TearDown() override {
    if (port != 0) CloseHandle(port);
    SelectPortBackend(PortBackend::Automatic);
    UseSystemDriveTable();
  }

  HANDLE Open(const std::u16string& name, DWORD access, DWORD disposition, DWORD flags) {
    HANDLE file = CreateFileW(u"\\\\?\\T:\\" + name, access, 0, nullptr, disposition, flags, 0);
    if (file != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(CreateIoCompletionPort(file, port, 0, 1), port);
    }
    return file;
  }

  // The next completion, expected within five seconds.
  bool Next(DWORD* bytes, ULONG_PTR* key, OVERLAPPED** overlapped) {
    return GetQueuedCompletionStatus(port, bytes, key, overlapped, 5000);
  }

  prueba::TempDir folder;
  HANDLE port = 0;
};

TEST_P(Ports, UnbufferedWriteAndReadOfTwoMebibytesAtAnOffset) {
  Buffer out(kMiB2), in(kMiB2);
  const std::string pattern = prueba::Pattern(kMiB2, 1);
  std::memcpy(out.data, pattern.data(), kMiB2);

  HANDLE file = Open(u"block", GENERIC_WRITE, CREATE_ALWAYS, kWriteFlags);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  OVERLAPPED write{};
  write.Offset = kMiB2;  // The second block of the file.
  DWORD count = 0;
  EXPECT_FALSE(WriteFile(file, out.data, kMiB2, &count, &write));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  DWORD bytes = 0;
  ULONG_PTR key = 99;
  OVERLAPPED* done = nullptr;
  ASSERT_TRUE(Next(&bytes, &key, &done));
  EXPECT_EQ(bytes, kMiB2);
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(done, &write);
  CloseHandle(file);
  EXPECT_EQ(prueba::ReadFile(folder / "block").substr(kMiB2), pattern);

  file = Open(u"block", GENERIC_READ, OPEN_EXISTING, kReadFlags);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  OVERLAPPED read{};
  read.Offset = kMiB2;
  EXPECT_FALSE(ReadFile(file, in.data, kMiB2, &count, &read));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(Next(&bytes, &key, &done));
  EXPECT_EQ(done, &read);
  EXPECT_EQ(bytes, kMiB2);
  EXPECT_EQ(std::memcmp(in.data, pattern.data(), kMiB2), 0);

  // The handle really bypasses the cache: a length that is no whole sector is refused.
  OVERLAPPED misaligned{};
  misaligned.Offset = kMiB2;  // Where the data is: ext4 reads holes whatever the alignment.
  const bool started = ReadFile(file, in.data, 100, &count, &misaligned) || GetLastError() == ERROR_IO_PENDING;
  if (started) {
    EXPECT_FALSE(Next(&bytes, &key, &done));
    EXPECT_EQ(done, &misaligned);
  }
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(file);
}

TEST_P(Ports, PostedEmptyCompletion) {
  ASSERT_TRUE(PostQueuedCompletionStatus(port, 0, 7, nullptr));
  DWORD bytes = 1;
  ULONG_PTR key = 0;
  OVERLAPPED* done = reinterpret_cast<OVERLAPPED*>(1);
  ASSERT_TRUE(Next(&bytes, &key, &done));
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(key, 7u);
  EXPECT_EQ(done, nullptr);
}

TEST_P(Ports, WaitWithNothingPendingTimesOut) {
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* done = nullptr;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(GetQueuedCompletionStatus(port, &bytes, &key, &done, 150));
  EXPECT_EQ(GetLastError(), WAIT_TIMEOUT);
  EXPECT_EQ(done, nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
}

TEST_P(Ports, PreallocatedFileWrittenInSectorsIsCutToItsSize) {
  const std::string data = prueba::Pattern(1000, 2);
  HANDLE file = Open(u"cut", GENERIC_WRITE, CREATE_ALWAYS, kWriteFlags);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::int32_t high = 0;
  SetFilePointer(file, 1024, &high, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(file));
  struct stat st {};
  ::stat((folder / "cut").c_str(), &st);
  EXPECT_EQ(st.st_size, 1024);
  EXPECT_GE(st.st_blocks * 512, 1024) << "the space is reserved, not sparse";

  Buffer block(4096);
  std::memcpy(block.data, data.data(), data.size());
  OVERLAPPED write{};
  DWORD count = 0;
  WriteFile(file, block.data, 1024, &count, &write);
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* done = nullptr;
  ASSERT_TRUE(Next(&bytes, &key, &done));
  EXPECT_EQ(bytes, 1024u);
  CloseHandle(file);

  file = CreateFileW(u"\\\\?\\T:\\cut", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     0x11000000, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  high = 0;
  SetFilePointer(file, 1000, &high, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
  EXPECT_EQ(prueba::ReadFile(folder / "cut"), data);
}

TEST_P(Ports, ReadOfTheLastPartialBlockReturnsTheRestAndZeroesTheTail) {
  const std::string data = prueba::Pattern(1000, 3);
  prueba::WriteFile(folder / "short", data);
  HANDLE file = Open(u"short", GENERIC_READ, OPEN_EXISTING, kReadFlags);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Buffer block(4096);
  std::memset(block.data, 0xAA, 4096);
  OVERLAPPED read{};
  DWORD count = 0;
  ReadFile(file, block.data, 1024, &count, &read);
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* done = nullptr;
  ASSERT_TRUE(Next(&bytes, &key, &done));
  EXPECT_EQ(bytes, 1000u);
  EXPECT_EQ(std::string(block.data, 1000), data);
  EXPECT_EQ(std::string(block.data + 1000, 24), std::string(24, '\0'));
  CloseHandle(file);
}

TEST_P(Ports, CancelledTransferStillDeliversItsOneCompletion) {
  // A FIFO read waits for data that never comes until the test writes it.
  const std::string fifo = folder / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  HANDLE file = Open(u"pipe", GENERIC_READ, OPEN_EXISTING, 0x40000080);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[16];
  OVERLAPPED read{};
  DWORD count = 0;
  EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &count, &read));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* done = nullptr;
  EXPECT_FALSE(GetQueuedCompletionStatus(port, &bytes, &key, &done, 100));
  EXPECT_EQ(GetLastError(), WAIT_TIMEOUT);

  OVERLAPPED other{};
  EXPECT_FALSE(CancelIoEx(file, &other));
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
  EXPECT_TRUE(CancelIoEx(file, &read));
  // A helper thread cannot interrupt a running read; the data lets it end.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(::write(writer, "0123456789abcdef", 16), 16);
  const bool ok = Next(&bytes, &key, &done);
  EXPECT_EQ(done, &read);
  if (!ok) {
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  } else {
    EXPECT_EQ(bytes, 16u) << "a FIFO read waits for its whole count";
  }
  // Drained: nothing else is left on the port.
  EXPECT_FALSE(GetQueuedCompletionStatus(port, &bytes, &key, &done, 100));
  EXPECT_EQ(GetLastError(), WAIT_TIMEOUT);
  CloseHandle(file);
  ::close(writer);
}

// A transfer whose completion is waiting on the port is not over yet for whoever cancels
// it: that completion must be taken before the next one is awaited.
TEST_P(Ports, ATransferWhoseCompletionIsStillQueuedCountsAsInFlight) {
  prueba::WriteFile(folder / "data", std::string(4096, 'd'));
  HANDLE file = Open(u"data", GENERIC_READ, OPEN_EXISTING, kReadFlags);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Buffer block(4096);
  OVERLAPPED read{};
  DWORD count = 0;
  EXPECT_FALSE(ReadFile(file, block.data, 4096, &count, &read));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  // The read has certainly ended by now, but its completion was not taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(CancelIoEx(file, &read));
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* done = nullptr;
  Next(&bytes, &key, &done);
  EXPECT_EQ(done, &read);
  EXPECT_FALSE(CancelIoEx(file, &read)) << "taken: nothing of it is left";
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
  CloseHandle(file);
}

TEST_P(Ports, WriteOnAFullFileSystemFailsTheWaitWithDiskFull) {
  prueba::LoopVolume volume("ext4", 16, 512, "LLENO");
  if (!volume.ok()) GTEST_SKIP() << volume.error();
  prueba::Run("dd if=/dev/zero of='" + volume.mountPoint() + "/fill' bs=1M 2>/dev/null; sync");
  InstallDriveTable({{u'L', volume.mountPoint(), DRIVE_FIXED, u"", 0x9, 512}});
  HANDLE file = CreateFileW(u"\\\\?\\L:\\more", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, kWriteFlags, 0);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_EQ(CreateIoCompletionPort(file, port, 0, 1), port);
  Buffer block(kMiB2);
  OVERLAPPED write{};
  DWORD count = 0;
  const bool started = WriteFile(file, block.data, kMiB2, &count, &write) || GetLastError() == ERROR_IO_PENDING;
  ASSERT_TRUE(started);
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* done = nullptr;
  EXPECT_FALSE(Next(&bytes, &key, &done));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(done, &write);
  CloseHandle(file);
}

INSTANTIATE_TEST_SUITE_P(Backends, Ports, ::testing::Values(PortBackend::IoUring, PortBackend::HelperThreads),
                         [](const auto& info) {
                           return info.param == PortBackend::IoUring ? "IoUring" : "HelperThreads";
                         });

// In a child process where io_uring_setup is refused, as a locked-down kernel or a seccomp
// policy does, ports fall back to helper threads and still deliver completions.
TEST(PortBackends, RefusedIoUringFallsBackToHelperThreads) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
      ::_exit(2);
    }
    SelectPortBackend(PortBackend::IoUring);
    if (ActivePortBackend() != PortBackend::HelperThreads) ::_exit(3);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, 0, 0, 1);
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* done = nullptr;
    if (!PostQueuedCompletionStatus(port, 5, 6, nullptr)) ::_exit(4);
    if (!GetQueuedCompletionStatus(port, &bytes, &key, &done, 1000) || bytes != 5 || key != 6) ::_exit(5);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
