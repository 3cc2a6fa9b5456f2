#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tests/support/Fixtures.h"

using namespace win32;

namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override { InstallDriveTable({{u'X', dir.path(), DRIVE_FIXED, u"", 0x5, 512}}); }
  void TearDown() override { UseSystemDriveTable(); }
  static std::u16string P(const std::u16string& name) { return u"\\\\?\\X:\\" + name; }
  HANDLE Open(const std::u16string& name, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0) {
    return CreateFileW(P(name), access, share, nullptr, disposition, flags, 0);
  }
  mode_t Mode(const std::string& name) {
    struct stat st {};
    ::lstat((dir / name).c_str(), &st);
    return st.st_mode;
  }
  prueba::TempDir dir;
};

TEST_F(Files, AccessAndWriteTimesRoundTripToTheHundredNanosecond) {
  prueba::WriteFile(dir / "t", "x");
  const FILETIME access = Int64ToFileTime(131200000000000001LL);  // 2016-10-03 20:26:40.0000001
  const FILETIME write = Int64ToFileTime(132000123456789012LL);
  HANDLE file = Open(u"t", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0x11000000);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(file, nullptr, &access, &write));
  CloseHandle(file);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(P(u"t"), &data));
  EXPECT_EQ(FileTimeToInt64(data.ftLastAccessTime), FileTimeToInt64(access));
  EXPECT_EQ(FileTimeToInt64(data.ftLastWriteTime), FileTimeToInt64(write));
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(P(u"t"), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(found.cFileName, u"t");
  EXPECT_EQ(FileTimeToInt64(found.ftLastWriteTime), FileTimeToInt64(write));
  FindClose(find);
}

TEST_F(Files, ZeroTimesLeaveTheFileTimeAlone) {
  prueba::WriteFile(dir / "z", "x");
  WIN32_FILE_ATTRIBUTE_DATA before;
  ASSERT_TRUE(GetFileAttributesExW(P(u"z"), &before));
  HANDLE file = Open(u"z", GENERIC_WRITE, 0, OPEN_EXISTING);
  const FILETIME zero{};
  ASSERT_TRUE(SetFileTime(file, &zero, &zero, &zero));
  CloseHandle(file);
  WIN32_FILE_ATTRIBUTE_DATA after;
  ASSERT_TRUE(GetFileAttributesExW(P(u"z"), &after));
  EXPECT_EQ(FileTimeToInt64(after.ftLastWriteTime), FileTimeToInt64(before.ftLastWriteTime));
}

TEST_F(Files, AttributesMapAsWindowsShowsThem) {
  ::mkdir((dir / "folder").c_str(), 0755);
  prueba::WriteFile(dir / "plain", "x");
  prueba::WriteFile(dir / "locked", "x");
  ::chmod((dir / "locked").c_str(), 0444);
  prueba::WriteFile(dir / ".hidden", "x");
  ::symlink("plain", (dir / "link").c_str());
  ::symlink("folder", (dir / "folderlink").c_str());
  ::mkfifo((dir / "fifo").c_str(), 0644);
  const struct {
    std::u16string name;
    DWORD attributes;
  } cases[] = {{u"folder", 0x10}, {u"plain", 0x20}, {u"locked", 0x21}, {u".hidden", 0x22},
               {u"link", 0x420},  {u"folderlink", 0x410}, {u"fifo", 0x40}};
  for (const auto& c : cases) {
    EXPECT_EQ(GetFileAttributesW(P(c.name)), c.attributes) << std::string(c.name.begin(), c.name.end());
  }
  const struct {
    std::u16string name;
    DWORD type;
  } types[] = {{u"plain", FILE_TYPE_DISK}, {u"fifo", FILE_TYPE_PIPE}};
  for (const auto& t : types) {
    HANDLE file = CreateFileW(P(t.name), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(file), t.type);
    CloseHandle(file);
  }
  EXPECT_EQ(GetFileAttributesW(P(u"missing")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(P(u"missing\\deeper")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, ReadOnlyIsAppliedToFilesButNotToFolders) {
  prueba::WriteFile(dir / "f", "x");
  ::mkdir((dir / "d").c_str(), 0755);
  ASSERT_TRUE(SetFileAttributesW(P(u"f"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Mode("f") & 0222, 0u);
  ASSERT_TRUE(SetFileAttributesW(P(u"f"), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_NE(Mode("f") & S_IWUSR, 0u);
  ASSERT_TRUE(SetFileAttributesW(P(u"d"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(Mode("d") & S_IWUSR, 0u) << "files can still be created in it";
}

TEST_F(Files, FindDataCarriesSixtyFourBitSizes) {
  ASSERT_EQ(::truncate((dir / "big").c_str(), 0), -1);  // Does not exist yet.
  prueba::WriteFile(dir / "big", "");
  ASSERT_EQ(::truncate((dir / "big").c_str(), 5LL << 30), 0);  // Sparse, 5 GiB.
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(P(u"*.*"), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  bool seen = false, dot = false, dotdot = false;
  do {
    dot |= found.cFileName == u".";
    dotdot |= found.cFileName == u"..";
    if (found.cFileName == u"big") {
      seen = true;
      EXPECT_EQ(found.nFileSizeHigh, 1u);
      EXPECT_EQ(found.nFileSizeLow, 1u << 30);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  EXPECT_TRUE(seen && dot && dotdot);
  EXPECT_EQ(FindFirstFileW(P(u"nothing*"), &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, ShareModesAreHonouredWithinTheProcess) {
  prueba::WriteFile(dir / "s", "x");
  HANDLE exclusive = Open(u"s", GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(u"s", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(DeleteFileW(P(u"s")));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(exclusive);

  HANDLE reader = Open(u"s", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second = Open(u"s", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(u"s", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  CloseHandle(second);
  CloseHandle(reader);
  EXPECT_TRUE(DeleteFileW(P(u"s")));
}

TEST_F(Files, DispositionsAndFolders) {
  prueba::WriteFile(dir / "e", "old content");
  EXPECT_EQ(Open(u"e", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(Open(u"none", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(u"no\\file", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  HANDLE replaced = Open(u"e", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(replaced, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(replaced);
  EXPECT_EQ(prueba::ReadFile(dir / "e"), "");

  ASSERT_TRUE(ForceDirectories(P(u"a\\b\\c")));
  EXPECT_EQ(GetFileAttributesW(P(u"a\\b\\c")), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(ForceDirectories(P(u"a\\b")));
  EXPECT_EQ(Open(u"a", GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE folder = Open(u"a", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0x03000000);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  const FILETIME write = Int64ToFileTime(131200000000000000LL);
  EXPECT_TRUE(SetFileTime(folder, &write, &write, &write));
  CloseHandle(folder);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(P(u"a"), &data));
  EXPECT_EQ(FileTimeToInt64(data.ftLastWriteTime), 131200000000000000LL);

  EXPECT_FALSE(RemoveDirectoryW(P(u"a")));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(DeleteFileW(P(u"a\\b")));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(RemoveDirectoryW(P(u"a\\b\\c")));
  prueba::WriteFile(dir / "ro", "x");
  ::chmod((dir / "ro").c_str(), 0444);
  EXPECT_FALSE(DeleteFileW(P(u"ro")));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Files, SynchronousTransfersFollowTheFilePointer) {
  HANDLE file = Open(u"sync", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);
  EXPECT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u);
  std::int64_t size = 0;
  ASSERT_TRUE(GetFileSizeEx(file, &size));
  EXPECT_EQ(size, 11);
  EXPECT_TRUE(FlushFileBuffers(file));
  CloseHandle(file);
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Files, AVolumeOpensByItsLetterAndFlushes) {
  HANDLE volume = CreateFileW(u"\\\\.\\X:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FlushFileBuffers(volume));
  CloseHandle(volume);
  EXPECT_EQ(CreateFileW(u"\\\\.\\Q:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(FileTimes, CalendarFieldsInUtc) {
  const struct {
    std::int64_t value;
    std::uint16_t year, month, day, weekday, hour, minute, second, millisecond;
  } cases[] = {
      {0, 1601, 1, 1, 1, 0, 0, 0, 0},
      {131200000000000000LL, 2016, 10, 3, 1, 20, 26, 40, 0},
      {132000123456789012LL, 2019, 4, 17, 3, 22, 5, 45, 678},
  };
  for (const auto& c : cases) {
    const FILETIME time = Int64ToFileTime(c.value);
    SYSTEMTIME fields;
    ASSERT_TRUE(FileTimeToSystemTime(&time, &fields));
    EXPECT_EQ(fields.wYear, c.year);
    EXPECT_EQ(fields.wMonth, c.month);
    EXPECT_EQ(fields.wDay, c.day);
    EXPECT_EQ(fields.wDayOfWeek, c.weekday);
    EXPECT_EQ(fields.wHour, c.hour);
    EXPECT_EQ(fields.wMinute, c.minute);
    EXPECT_EQ(fields.wSecond, c.second);
    EXPECT_EQ(fields.wMilliseconds, c.millisecond);
  }
  const FILETIME negative = Int64ToFileTime(-1);
  SYSTEMTIME fields;
  EXPECT_FALSE(FileTimeToSystemTime(&negative, &fields));
}

}  // namespace
