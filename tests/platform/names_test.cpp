#include <gtest/gtest.h>

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "tests/support/Fixtures.h"

using namespace win32;

namespace {

TEST(Names, NativeNamesRoundTripExactly) {
  const std::string cases[] = {
      "plain.txt", "back\\slash", "co:lon", "ñandú €", "\xff\xfe raw", "\xe2\x82",  // cut sequence
      "\xef\x81\x9c",                                                              // U+F05C itself
      "\xef\x80\xbf", "que?\xef\x80\xbf", "a*b<c>d|e\"f",                          // U+F03F and the rest
      "\xf0\x9f\x98\x80 emoji", "\xed\xa0\x80 surrogate bytes", "\xc0\xaf overlong"};
  for (const std::string& native : cases) {
    EXPECT_EQ(NameToNative(NameFromNative(native)), native) << native;
  }
}

TEST(Names, CharactersWindowsRefusesBecomeStandIns) {
  const struct {
    const char* native;
    std::u16string name;
  } cases[] = {{"a\\b:c", u"a\uF05Cb\uF03Ac"},
               {"Informe?.pdf", u"Informe\uF03F.pdf"},
               {"*", u"\uF02A"},
               {"<\">|", u"\uF03C\uF022\uF03E\uF07C"},
               // A stand-in in a native name is no reserved character: it stays apart.
               {"\xef\x80\xbf", std::u16string{char16_t(0xDCEF), char16_t(0xDC80), char16_t(0xDCBF)}}};
  for (const auto& c : cases) EXPECT_EQ(NameFromNative(c.native), c.name) << c.native;
  EXPECT_EQ(NameFromNative("\xff"), std::u16string(1, char16_t(0xDCFF)));
  // An emoji outside the basic plane is two code units.
  EXPECT_EQ(NameFromNative("\xf0\x9f\x98\x80").size(), 2u);
}

class DrivePaths : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallDriveTable({{u'E', origin.path(), DRIVE_FIXED, u"Origen", 0xE, 512},
                       {u'F', nested.path(), DRIVE_REMOVABLE, u"", 0xF, 4096}});
  }
  void TearDown() override { UseSystemDriveTable(); }
  prueba::TempDir origin, nested;
};

TEST_F(DrivePaths, SystemPathsNameFilesUnderTheDriveRoot) {
  EXPECT_EQ(NativePath(u"\\\\?\\E:\\Fotos\\a.jpg"), origin / "Fotos/a.jpg");
  EXPECT_EQ(NativePath(u"E:\\Fotos\\"), origin / "Fotos/");
  EXPECT_EQ(NativePath(u"\\\\?\\e:\\x"), origin / "x");
  EXPECT_EQ(NativePath(u"E:\\"), origin.path() + "/");
  EXPECT_EQ(NativePath(u"/etc/hostname"), std::string("/etc/hostname"));
}

TEST_F(DrivePaths, PathsThatLeaveTheirDriveAreRefused) {
  const std::u16string refused[] = {u"E:\\..\\etc", u"E:\\a\\..\\..\\b", u"E:\\.\\a", u"E:\\a/b",
                                    std::u16string(u"E:\\a\0b", 7)};
  for (const auto& path : refused) {
    SetLastError(0);
    EXPECT_FALSE(NativePath(path).has_value());
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  }
  EXPECT_FALSE(NativePath(u"Q:\\a").has_value());
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(DrivePaths, NativePathsGetTheLetterOfTheLongestRoot) {
  EXPECT_EQ(DrivePath(origin / "Fotos/2016"), std::u16string(u"E:\\Fotos\\2016"));
  EXPECT_EQ(DrivePath(origin.path()), std::u16string(u"E:\\"));
  EXPECT_EQ(DrivePath(origin / "a\\b"), std::u16string(u"E:\\a\uF05Cb"));
  EXPECT_FALSE(DrivePath("/nowhere/at/all").has_value());
  EXPECT_FALSE(DrivePath(origin.path() + "x/y").has_value());  // A sibling folder, not inside.
}

TEST_F(DrivePaths, OddNamesComeBackFromAListingAndReachTheSameFile) {
  const std::string names[] = {"back\\slash", "co:lon", std::string("bad\xff\xfe", 5), "normal", "que?", "todo*"};
  for (std::size_t i = 0; i < std::size(names); ++i) {
    prueba::WriteFile(origin / names[i], "content " + std::to_string(i));
  }
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(u"\\\\?\\E:\\*.*", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  int found = 0;
  do {
    if (data.cFileName == u"." || data.cFileName == u"..") continue;
    ++found;
    const std::u16string path = u"\\\\?\\E:\\" + data.cFileName;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << NameToNative(data.cFileName);
    char buffer[64] = {};
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
    const std::string native = NameToNative(data.cFileName);
    const auto index = std::find(std::begin(names), std::end(names), native) - std::begin(names);
    ASSERT_LT(index, static_cast<long>(std::size(names)));
    EXPECT_EQ(std::string(buffer, done), "content " + std::to_string(index));
    CloseHandle(file);
  } while (FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  FindClose(find);
  EXPECT_EQ(found, 6);
}

// Linux allows "?" and "*" in names; looked up by its name, such a file is only itself.
TEST_F(DrivePaths, ANameWithAQuestionMarkFindsOnlyItself) {
  prueba::WriteFile(origin / "Informe1.pdf", std::string(99, 'x'));
  prueba::WriteFile(origin / "Informe?.pdf", std::string(10, 'y'));
  prueba::WriteFile(origin / "Informe*", std::string(5, 'z'));
  const struct {
    const char* native;
    DWORD size;
  } cases[] = {{"Informe?.pdf", 10}, {"Informe*", 5}, {"Informe1.pdf", 99}};
  for (const auto& c : cases) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(u"\\\\?\\E:\\" + NameFromNative(c.native), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << c.native;
    EXPECT_EQ(NameToNative(data.cFileName), c.native);
    EXPECT_EQ(data.nFileSizeLow, c.size) << c.native;
    EXPECT_FALSE(FindNextFileW(find, &data)) << "one entry: " << c.native;
    FindClose(find);
  }
}

TEST_F(DrivePaths, AFolderThatIsGoneIsNoLongerADrive) {
  prueba::TempDir gone;
  std::string path = gone.path();
  InstallDriveTable({{u'G', path, DRIVE_FIXED, u"", 7, 512}});
  EXPECT_TRUE(NativePath(u"G:\\x").has_value());
  ::rmdir(path.c_str());
  EXPECT_FALSE(NativePath(u"G:\\x").has_value());
}

}  // namespace
