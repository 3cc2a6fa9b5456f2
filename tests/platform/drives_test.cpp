#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/drives.h"
#include "platform/strings.h"
#include "tests/support/Fixtures.h"

using namespace win32;

namespace {

// The letter the mount table gave the folder, or 0.
char16_t LetterOf(const std::string& mountPoint) {
  const DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    const auto letter = static_cast<char16_t>(u'A' + i);
    if ((mask & (1u << i)) != 0 && DriveRoot(letter) == mountPoint) return letter;
  }
  return 0;
}

std::u16string Root(char16_t letter) { return std::u16string{letter, u':', u'\\'}; }

// The logical block size sysfs gives the disk a device belongs to.
std::optional<unsigned> SysfsSectorSize(dev_t device) {
  const std::string base = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (const std::string& queue : {base + "/queue/logical_block_size", base + "/../queue/logical_block_size"}) {
    std::ifstream in(queue);
    unsigned size = 0;
    if (in >> size) return size;
  }
  return std::nullopt;
}

TEST(SystemDrives, RootIsDriveCFixedWithASerialAndItsSectorSize) {
  UseSystemDriveTable();
  ASSERT_NE(GetLogicalDrives() & (1u << 2), 0u);
  EXPECT_EQ(DriveRoot(u'C'), std::string("/"));
  EXPECT_EQ(GetDriveTypeW(u"C:\\"), DRIVE_FIXED);
  DWORD serial = 0;
  std::u16string label;
  ASSERT_TRUE(GetVolumeInformationW(u"C:\\", &label, &serial));
  EXPECT_NE(serial, 0u);
  DWORD perCluster = 0, perSector = 0, free = 0, total = 0;
  ASSERT_TRUE(GetDiskFreeSpaceW(u"C:\\", &perCluster, &perSector, &free, &total));
  struct stat st {};
  ASSERT_EQ(::stat("/", &st), 0);
  if (auto expected = SysfsSectorSize(st.st_dev)) {
    EXPECT_EQ(perSector, *expected);
  } else {
    EXPECT_GE(perSector, 512u);
  }
  std::uint64_t caller = 0, bytes = 0, all = 0;
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"C:\\", &caller, &bytes, &all));
  struct statvfs vfs {};
  ::statvfs("/", &vfs);
  EXPECT_NEAR(static_cast<double>(caller), static_cast<double>(vfs.f_bavail) * vfs.f_frsize, 64.0 * 1024 * 1024);
  EXPECT_EQ(GetDriveTypeW(u"Q:\\"), DRIVE_NO_ROOT_DIR);
}

TEST(SystemDrives, NtfsVolumeShowsItsLabelAndTheSerialWindowsShows) {
  prueba::LoopVolume volume("ntfs", 64, 512, "ETIQUETA");
  if (!volume.ok()) GTEST_SKIP() << volume.error();
  // The 64-bit serial sits at offset 0x48 of the boot sector; Windows shows its low half.
  std::ifstream device(volume.device(), std::ios::binary);
  unsigned char boot[0x50] = {};
  device.read(reinterpret_cast<char*>(boot), sizeof boot);
  const DWORD expected = boot[0x48] | boot[0x49] << 8 | boot[0x4A] << 16 | static_cast<DWORD>(boot[0x4B]) << 24;
  UseSystemDriveTable();
  const char16_t letter = LetterOf(volume.mountPoint());
  ASSERT_NE(letter, 0) << "the NTFS mount is listed";
  std::u16string label;
  DWORD serial = 0;
  ASSERT_TRUE(GetVolumeInformationW(Root(letter), &label, &serial));
  EXPECT_EQ(label, u"ETIQUETA");
  EXPECT_EQ(serial, expected);
  EXPECT_EQ(GetDriveTypeW(Root(letter)), DRIVE_FIXED);
}

TEST(SystemDrives, Ext4VolumeShowsItsLabelAndASerialFromItsUuid) {
  prueba::LoopVolume volume("ext4", 32, 512, "DATOS");
  if (!volume.ok()) GTEST_SKIP() << volume.error();
  std::string uuid;
  prueba::Run("blkid -o value -s UUID " + volume.device(), &uuid);
  const DWORD expected = static_cast<DWORD>(std::stoul(uuid.substr(0, 8), nullptr, 16));
  UseSystemDriveTable();
  const char16_t letter = LetterOf(volume.mountPoint());
  ASSERT_NE(letter, 0);
  EXPECT_GE(letter, u'D');
  std::u16string label;
  DWORD serial = 0;
  ASSERT_TRUE(GetVolumeInformationW(Root(letter), &label, &serial));
  EXPECT_EQ(label, u"DATOS");
  EXPECT_EQ(serial, expected == 0 ? 1 : expected);
}

// A stick's and a card's label as stored, and the 32-bit volume serial Windows shows as
// XXXX-XXXX (their UUID's digits). exFAT keeps the label's case; FAT32 is skipped where the
// kernel has no vfat driver.
TEST(SystemDrives, ExfatAndFatVolumesShowTheLabelAndSerialWindowsShows) {
  const struct {
    const char* type;
    const char* label;
    std::u16string expected;
  } casos[] = {{"exfat", "Llave Azul", u"Llave Azul"}, {"vfat", "TARJETA", u"TARJETA"}};
  for (const auto& c : casos) {
    prueba::LoopVolume volume(c.type, 64, 512, c.label);
    if (!volume.ok()) {
      std::printf("not tried on %s: %s\n", c.type, volume.error().c_str());
      continue;
    }
    std::string uuid;
    prueba::Run("blkid -p -o value -s UUID " + volume.device(), &uuid);
    uuid.erase(std::remove(uuid.begin(), uuid.end(), '-'), uuid.end());
    ASSERT_GE(uuid.size(), 8u) << c.type;
    const DWORD expected = static_cast<DWORD>(std::stoul(uuid.substr(0, 8), nullptr, 16));
    if (std::string(c.type) == "vfat") {
      EXPECT_EQ(expected, 0x1234ABCDu) << "the serial the card was made with";
    }
    UseSystemDriveTable();
    const char16_t letter = LetterOf(volume.mountPoint());
    ASSERT_NE(letter, 0) << c.type << " mount is listed";
    std::u16string label;
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumeInformationW(Root(letter), &label, &serial)) << c.type;
    EXPECT_EQ(label, c.expected) << c.type;
    EXPECT_EQ(serial, expected) << c.type;
  }
}

TEST(SystemDrives, LettersStayWithTheirMountsAndFourKibibyteSectorsShow) {
  prueba::LoopVolume first("ext4", 32, 512, "UNO");
  if (!first.ok()) GTEST_SKIP() << first.error();
  UseSystemDriveTable();
  const char16_t firstLetter = LetterOf(first.mountPoint());
  ASSERT_NE(firstLetter, 0);
  prueba::LoopVolume second("ext4", 32, 4096, "DOS");
  ASSERT_TRUE(second.ok()) << second.error();
  const char16_t secondLetter = LetterOf(second.mountPoint());
  ASSERT_NE(secondLetter, 0);
  EXPECT_NE(secondLetter, firstLetter);
  EXPECT_EQ(LetterOf(first.mountPoint()), firstLetter);
  DWORD perCluster = 0, perSector = 0, free = 0, total = 0;
  ASSERT_TRUE(GetDiskFreeSpaceW(Root(secondLetter), &perCluster, &perSector, &free, &total));
  EXPECT_EQ(perSector, 4096u);
  ASSERT_TRUE(GetDiskFreeSpaceW(Root(firstLetter), &perCluster, &perSector, &free, &total));
  EXPECT_EQ(perSector, 512u);
}

TEST(SystemDrives, RamDisksAreListedAsSuch) {
  if (auto why = prueba::LoopUnavailable()) GTEST_SKIP() << *why;
  prueba::TempDir folder;
  ASSERT_EQ(prueba::Run("mount -t tmpfs -o size=4m vertilo-test '" + folder.path() + "'"), 0);
  UseSystemDriveTable();
  const char16_t letter = LetterOf(folder.path());
  const DWORD type = letter != 0 ? GetDriveTypeW(Root(letter)) : DRIVE_UNKNOWN;
  prueba::Run("umount '" + folder.path() + "'");
  ASSERT_NE(letter, 0);
  EXPECT_EQ(type, DRIVE_RAMDISK);
  UseSystemDriveTable();
  // Other tests mount volumes meanwhile, and one may take the freed letter: what must hold is
  // that no drive stands for the unmounted folder any more.
  EXPECT_EQ(LetterOf(folder.path()), 0) << "gone after the unmount";
  EXPECT_NE(DriveRoot(letter), std::optional<std::string>(folder.path()));
}

TEST(InstalledDrives, ReplaceTheMountTable) {
  prueba::TempDir e, f;
  InstallDriveTable({{u'E', e.path(), DRIVE_REMOVABLE, u"Llave", 0xABCD1234, 512},
                     {u'F', f.path(), DRIVE_REMOTE, u"", 42, 4096}});
  EXPECT_EQ(GetLogicalDrives(), (1u << 4) | (1u << 5));
  EXPECT_EQ(GetDriveTypeW(u"E:\\"), DRIVE_REMOVABLE);
  EXPECT_EQ(GetDriveTypeW(u"F:\\"), DRIVE_REMOTE);
  std::u16string label;
  DWORD serial = 0;
  ASSERT_TRUE(GetVolumeInformationW(u"E:\\", &label, &serial));
  EXPECT_EQ(label, u"Llave");
  EXPECT_EQ(serial, 0xABCD1234u);
  DWORD perCluster = 0, perSector = 0, free = 0, total = 0;
  ASSERT_TRUE(GetDiskFreeSpaceW(u"F:\\", &perCluster, &perSector, &free, &total));
  EXPECT_EQ(perSector, 4096u);
  EXPECT_EQ(DriveRoot(u'E'), e.path());
  UseSystemDriveTable();
  EXPECT_EQ(DriveRoot(u'C'), std::string("/"));
}

}  // namespace
