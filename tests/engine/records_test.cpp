// File records: destinations in priority order, and whether a drive already holds an item.

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "engine/FRec.h"
#include "platform/drives.h"
#include "tests/support/Fixtures.h"

namespace {

// Records only compare worker pointers; these stand for four workers.
TDHilo* const A = reinterpret_cast<TDHilo*>(0x10);
TDHilo* const B = reinterpret_cast<TDHilo*>(0x20);
TDHilo* const C = reinterpret_cast<TDHilo*>(0x30);
TDHilo* const D = reinterpret_cast<TDHilo*>(0x40);

TEST(Registro, DestinationsAreFoundRemovedAndPrioritisedFromTheLast) {
  TFRec R;
  R.DList = {A, B, C, B, D};
  EXPECT_TRUE(R.EncontrarDestino(D));
  EXPECT_FALSE(R.EncontrarDestino(reinterpret_cast<TDHilo*>(0x50)));
  EXPECT_TRUE(R.PriorizarDH(B));  // The B at index 3 moves to the front.
  EXPECT_EQ(R.DList, (std::vector<TDHilo*>{B, A, B, C, D}));
  EXPECT_TRUE(R.PriorizarDH(B));  // Now the last B is at index 2.
  EXPECT_EQ(R.DList, (std::vector<TDHilo*>{B, B, A, C, D}));
  EXPECT_TRUE(R.EliminarDestino(B));
  EXPECT_EQ(R.DList, (std::vector<TDHilo*>{B, A, C, D}));
  EXPECT_TRUE(R.PriorizarDH(B)) << "the first stays first";
  EXPECT_EQ(R.DList, (std::vector<TDHilo*>{B, A, C, D}));
  EXPECT_FALSE(R.EliminarDestino(reinterpret_cast<TDHilo*>(0x50)));
  EXPECT_FALSE(R.PriorizarDH(reinterpret_cast<TDHilo*>(0x50)));
  TFRec other;
  other.DList = {D, A};
  R.AgregarDestinos(other);
  EXPECT_EQ(R.DList, (std::vector<TDHilo*>{B, A, C, D, D, A}));
}

TEST(Registro, SizeOnADrive) {
  TFRec R;
  EXPECT_EQ(R.DTalla(512), 0);
  R.Talla = 1;
  EXPECT_EQ(R.DTalla(512), 512);
  EXPECT_EQ(R.DTalla(4096), 4096);
}

class Mismo : public ::testing::Test {
 protected:
  void SetUp() override { win32::InstallDriveTable({{u'X', dir.path(), win32::DRIVE_FIXED, u"", 1, 512}}); }
  void TearDown() override { win32::UseSystemDriveTable(); }
  // Sets the file's last-write time to 6 October 2016 12:34 and the given seconds.
  void Fechar(const std::string& name, int seconds) {
    timespec times[2] = {{0, UTIME_OMIT}, {1475757240 + seconds, 0}};
    ::utimensat(AT_FDCWD, (dir / name).c_str(), times, 0);
  }
  prueba::TempDir dir;
};

TEST_F(Mismo, SameSizeAndMinuteIsTheSameFile) {
  prueba::WriteFile(dir / "f", "12345");
  Fechar("f", 30);
  ::mkdir((dir / "folder").c_str(), 0755);
  // 2016-10-06 12:34:00 UTC as a file time.
  const std::int64_t minute = (1475757240LL + 11644473600LL) * 10000000LL;
  const struct {
    const char16_t* path;
    std::int64_t size;
    std::int64_t time;
    bool same;
  } cases[] = {
      {u"\\\\?\\X:\\f", 5, minute, true},
      {u"\\\\?\\X:\\f", 5, minute + 59 * 10000000LL, true},     // seconds do not count
      {u"\\\\?\\X:\\f", 5, minute + 60 * 10000000LL, false},    // the next minute does
      {u"\\\\?\\X:\\f", 6, minute, false},                      // another size
      {u"\\\\?\\X:\\folder", 99, 0, true},                       // a folder, whatever its times
      {u"\\\\?\\X:\\missing", 5, minute, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MismoArchivo(c.path, c.size, win32::Int64ToFileTime(c.time)), c.same)
        << std::u16string(c.path).size() << " " << c.size << " " << c.time;
  }
}

}  // namespace
