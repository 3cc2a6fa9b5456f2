#pragma once

// The drive table: letters for mounted volumes, with type, label, serial number, sector size
// and free space, in the shape of the Windows drive services.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace win32 {

// Rescans the mount table (or the installed table) and returns bit i for letter 'A'+i.
// The per-drive queries below and path resolution use the table of the latest scan.
DWORD GetLogicalDrives();

// root is "X:\" (or "X:"); DRIVE_NO_ROOT_DIR for a letter that has no drive.
DWORD GetDriveTypeW(std::u16string_view root);

// Label (empty when the volume has none) and 32-bit volume serial number.
bool GetVolumeInformationW(std::u16string_view root, std::u16string* label, DWORD* serial);

// Bytes per sector is the device's logical block size; the cluster fields are derived from
// the file system's fragment size.
bool GetDiskFreeSpaceW(std::u16string_view root, DWORD* sectorsPerCluster,
                       DWORD* bytesPerSector, DWORD* freeClusters, DWORD* totalClusters);

// Free bytes for the calling user, total bytes and free bytes for all users.
bool GetDiskFreeSpaceExW(std::u16string_view root, std::uint64_t* freeToCaller,
                         std::uint64_t* totalBytes, std::uint64_t* totalFree);

// The native mount root of a lettered drive, for display (the row's tooltip).
std::optional<std::string> DriveRoot(char16_t letter);

// Not a Windows service (Windows sends the window a device-change message instead): a number
// that changes whenever a file system is mounted or unmounted, watched on the kernel's mount
// table by a thread of the platform. 0 where the mount table cannot be watched.
std::uint64_t MountTableGeneration();

// A drive that a test installs in place of the mount table: a folder under a letter.
struct TestDrive {
  char16_t letter = u'C';
  std::string folder;
  DWORD type = DRIVE_FIXED;
  std::u16string label;
  DWORD serial = 0;
  DWORD bytesPerSector = 512;
};

// From now on drives come from this table instead of the mount table.
void InstallDriveTable(std::vector<TestDrive> drives);
// Back to the mount table of the machine.
void UseSystemDriveTable();

}  // namespace win32
