#include "platform/drives.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <sstream>

#include "platform/errors.h"
#include "platform/linux/internal.h"
#include "platform/strings.h"

namespace win32 {

namespace {

// What a drive's root was last checked against: the mount table changes (the kernel
// signals them on /proc/self/mountinfo, watched by a thread of its own) and this table's
// own changes. While neither changed, a root that was still mounted is still mounted, and
// the path conversions of every file need not look at it again.
std::atomic<std::uint64_t> mountGeneration{0};  // 0 while nothing watches: always look.
std::atomic<std::uint64_t> tableGeneration{1};
std::once_flag watcherStarted;
struct Verified {
  std::atomic<std::uint64_t> mounts{0}, tables{0};
  std::atomic<dev_t> device{0};
};
Verified verified[26];

void WatchMounts(int fd) {
  for (;;) {
    pollfd event{fd, POLLPRI, 0};
    if (::poll(&event, 1, -1) < 0 && errno != EINTR) break;
    if ((event.revents & (POLLPRI | POLLERR)) != 0) mountGeneration.fetch_add(1);
    if ((event.revents & POLLNVAL) != 0) break;
  }
  mountGeneration.store(0);
}

void StartWatcher() {
  std::call_once(watcherStarted, [] {
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    mountGeneration.store(1);
    std::thread(WatchMounts, fd).detach();
  });
}

struct Drive {
  char16_t letter = 0;
  std::string root;
  DWORD type = DRIVE_FIXED;
  std::u16string label;
  DWORD serial = 0;
  DWORD bytesPerSector = 512;
  dev_t device = 0;  // st_dev of the root while it is mounted
  // The root is a mount's root: it can only go away with a change of the mount table.
  bool mountRoot = false;
};

struct MountEntry {
  int id = 0;
  dev_t device = 0;
  std::string root;        // the part of the file system mounted here
  std::string mountPoint;
  std::string fsType;
  std::string source;
};

struct VolumeFacts {
  std::string label;
  std::string uuid;
  std::string type;
};

// Guards everything below: the table of the latest scan, the installed table, the letters
// given to mounts in this run and the probed volume facts.
std::shared_mutex tableLock;
std::vector<Drive> table;
bool scanned = false;
bool installed = false;
std::vector<TestDrive> testDrives;
// Keyed by MountKey: the kernel reuses mount IDs, so the ID alone does not name a mount.
std::map<std::string, char16_t> lettersByMount;
std::map<std::string, VolumeFacts> factsByMount;

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7') {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<MountEntry> ReadMountInfo() {
  std::vector<MountEntry> entries;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    MountEntry entry;
    std::string parent, majorMinor, root, mountPoint, field;
    if (!(fields >> entry.id >> parent >> majorMinor >> root >> mountPoint)) continue;
    while (fields >> field && field != "-") {
    }
    std::string source;
    if (!(fields >> entry.fsType >> source)) continue;
    unsigned major = 0, minor = 0;
    if (std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) != 2) continue;
    entry.device = makedev(major, minor);
    entry.root = Unescape(root);
    entry.mountPoint = Unescape(mountPoint);
    entry.source = Unescape(source);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string MountKey(const MountEntry& entry) {
  return std::to_string(entry.id) + ":" + std::to_string(entry.device) + ":" + entry.mountPoint + ":" + entry.source;
}

bool UnderPath(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

bool SystemMountPoint(const std::string& mountPoint) {
  static const char* const kSystem[] = {"/boot", "/efi", "/proc", "/sys", "/dev", "/snap"};
  for (const char* folder : kSystem) {
    if (UnderPath(mountPoint, folder)) return true;
  }
  return UnderPath(mountPoint, "/run") && !UnderPath(mountPoint, "/run/media");
}

bool RemoteType(const std::string& type) {
  static const char* const kRemote[] = {"nfs",  "nfs4",      "cifs",     "smb3",        "smbfs",
                                        "9p",   "ceph",      "afs",      "glusterfs",   "lustre",
                                        "davfs", "fuse.sshfs", "fuse.rclone", "fuse.davfs2",
                                        "fuse.glusterfs", "fuse.s3fs", "fuse.curlftpfs"};
  return std::find_if(std::begin(kRemote), std::end(kRemote),
                      [&](const char* t) { return type == t; }) != std::end(kRemote);
}

// The block device a mount stands on, when it stands on one.
std::optional<dev_t> BlockDevice(const MountEntry& entry) {
  struct stat st {};
  if (!entry.source.empty() && entry.source[0] == '/' && ::stat(entry.source.c_str(), &st) == 0 &&
      S_ISBLK(st.st_mode)) {
    return st.st_rdev;
  }
  return std::nullopt;
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The sysfs folder of the whole disk a block device belongs to.
std::string DiskFolder(dev_t device) {
  std::error_code error;
  const std::string link = "/sys/dev/block/" + std::to_string(major(device)) + ":" +
                           std::to_string(minor(device));
  std::filesystem::path folder = std::filesystem::canonical(link, error);
  if (error) return {};
  if (std::filesystem::exists(folder / "partition", error)) folder = folder.parent_path();
  return folder.string();
}

DWORD TypeOf(const MountEntry& entry, std::optional<dev_t> block) {
  if (RemoteType(entry.fsType)) return DRIVE_REMOTE;
  if (entry.fsType == "tmpfs" || entry.fsType == "ramfs") return DRIVE_RAMDISK;
  if (entry.fsType == "iso9660" || entry.fsType == "udf") return DRIVE_CDROM;
  if (block) {
    if (major(*block) == 11) return DRIVE_CDROM;  // SCSI optical drives
    const std::string disk = DiskFolder(*block);
    if (!disk.empty()) {
      if (ReadFirstLine(disk + "/removable") == "1") return DRIVE_REMOVABLE;
      if (disk.find("/usb") != std::string::npos) return DRIVE_REMOVABLE;
    }
  }
  return DRIVE_FIXED;
}

DWORD SectorSizeOf(const MountEntry& entry, std::optional<dev_t> block) {
  if (block) {
    const std::string disk = DiskFolder(*block);
    if (!disk.empty()) {
      const long size = std::strtol(ReadFirstLine(disk + "/queue/logical_block_size").c_str(),
                                    nullptr, 10);
      if (size > 0) return static_cast<DWORD>(size);
    }
  }
#ifdef STATX_DIOALIGN
  struct statx sx {};
  if (::statx(AT_FDCWD, entry.mountPoint.c_str(), 0, STATX_DIOALIGN, &sx) == 0 &&
      (sx.stx_mask & STATX_DIOALIGN) != 0 && sx.stx_dio_offset_align > 0) {
    return sx.stx_dio_offset_align;
  }
#endif
  return 512;
}

// udev's text escapes (\x20 for a space) in labels.
std::string UnescapeUdev(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      out += static_cast<char>(std::strtol(s.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// What udev recorded for the device, readable by any user.
bool FactsFromUdev(dev_t device, VolumeFacts* facts) {
  std::ifstream in("/run/udev/data/b" + std::to_string(major(device)) + ":" +
                   std::to_string(minor(device)));
  if (!in) return false;
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    const auto take = [&](const char* key, std::string* value) {
      const std::size_t n = std::strlen(key);
      if (line.compare(0, n, key) == 0) {
        *value = line.substr(n);
        any = true;
      }
    };
    std::string labelEncoded;
    take("E:ID_FS_LABEL_ENC=", &labelEncoded);
    if (!labelEncoded.empty()) facts->label = UnescapeUdev(labelEncoded);
    if (facts->label.empty()) take("E:ID_FS_LABEL=", &facts->label);
    take("E:ID_FS_UUID=", &facts->uuid);
    take("E:ID_FS_TYPE=", &facts->type);
  }
  return any;
}

// The /dev/disk/by-label and by-uuid links that point at the device.
bool FactsFromLinks(dev_t device, VolumeFacts* facts) {
  bool any = false;
  const auto scan = [&](const char* folder, std::string* value, bool encoded) {
    std::error_code error;
    for (const auto& link : std::filesystem::directory_iterator(folder, error)) {
      struct stat st {};
      if (::stat(link.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device) {
        const std::string name = link.path().filename().string();
        *value = encoded ? UnescapeUdev(name) : name;
        any = true;
        return;
      }
    }
  };
  scan("/dev/disk/by-label", &facts->label, true);
  scan("/dev/disk/by-uuid", &facts->uuid, false);
  return any;
}

// Reads the superblock itself; needs read access to the device (root).
void FactsFromProbe(const std::string& source, VolumeFacts* facts) {
  blkid_probe probe = blkid_new_probe_from_filename(source.c_str());
  if (probe == nullptr) return;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID |
                                               BLKID_SUBLKS_TYPE);
  if (blkid_do_safeprobe(probe) == 0) {
    const char* value = nullptr;
    if (blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 && facts->label.empty()) {
      facts->label = value;
    }
    if (blkid_probe_lookup_value(probe, "UUID", &value, nullptr) == 0 && facts->uuid.empty()) {
      facts->uuid = value;
    }
    if (blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0 && facts->type.empty()) {
      facts->type = value;
    }
  }
  blkid_free_probe(probe);
}

std::uint32_t Fnv1a(const std::string& text) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

std::string HexDigits(const std::string& uuid) {
  std::string digits;
  for (char c : uuid) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  return digits;
}

// FAT, exFAT and NTFS carry the serial Windows shows; other file systems give the first 32
// bits of their UUID, and volumes without one a hash of their source.
DWORD SerialOf(const VolumeFacts& facts, const MountEntry& entry) {
  const std::string type = facts.type.empty() ? entry.fsType : facts.type;
  const std::string digits = HexDigits(facts.uuid);
  DWORD serial = 0;
  if ((type == "ntfs" || type == "ntfs3") && digits.size() >= 8) {
    serial = static_cast<DWORD>(std::strtoul(digits.substr(digits.size() - 8).c_str(), nullptr, 16));
  } else if (digits.size() >= 8) {
    serial = static_cast<DWORD>(std::strtoul(digits.substr(0, 8).c_str(), nullptr, 16));
  } else {
    serial = Fnv1a(entry.source.empty() ? entry.mountPoint : entry.source);
  }
  return serial == 0 ? 1 : serial;
}

VolumeFacts ProbeVolume(const MountEntry& entry, std::optional<dev_t> block) {
  VolumeFacts facts;
  if (!block) return facts;
  FactsFromUdev(*block, &facts);
  if (facts.uuid.empty() || facts.type.empty()) FactsFromLinks(*block, &facts);
  if (facts.uuid.empty() || facts.type.empty()) FactsFromProbe(entry.source, &facts);
  return facts;
}

// Builds the table from the mount table; tableLock is held exclusively.
void ScanSystem() {
  std::vector<MountEntry> entries = ReadMountInfo();
  std::vector<const MountEntry*> listed;
  for (const MountEntry& entry : entries) {
    const bool isRoot = entry.mountPoint == "/";
    if (!isRoot) {
      if (SystemMountPoint(entry.mountPoint)) continue;
      const bool block = BlockDevice(entry).has_value() || entry.fsType == "fuseblk";
      if (!block && !RemoteType(entry.fsType) && entry.fsType != "tmpfs" && entry.fsType != "ramfs") {
        continue;
      }
    }
    // A file system mounted twice is listed once, under its first whole mount.
    auto same = std::find_if(listed.begin(), listed.end(),
                             [&](const MountEntry* other) { return other->device == entry.device; });
    if (same != listed.end()) {
      if ((*same)->mountPoint != "/" && (*same)->root != "/" && entry.root == "/") *same = &entry;
      continue;
    }
    // A mount hidden under a later mount on the same point is replaced by it.
    auto over = std::find_if(listed.begin(), listed.end(), [&](const MountEntry* other) {
      return other->mountPoint == entry.mountPoint;
    });
    if (over != listed.end()) {
      *over = &entry;
      continue;
    }
    listed.push_back(&entry);
  }

  std::map<std::string, char16_t> letters;
  std::map<std::string, VolumeFacts> facts;
  std::vector<Drive> drives;
  bool used[26] = {};
  for (const MountEntry* entry : listed) {
    char16_t letter = 0;
    if (entry->mountPoint == "/") {
      letter = u'C';
    } else if (auto kept = lettersByMount.find(MountKey(*entry)); kept != lettersByMount.end()) {
      letter = kept->second;
    }
    if (letter != 0) used[letter - u'A'] = true;
    letters[MountKey(*entry)] = letter;
  }
  for (const MountEntry* entry : listed) {
    const std::string key = MountKey(*entry);
    char16_t& letter = letters[key];
    if (letter == 0) {
      for (int i = 3; i < 26; ++i) {
        if (!used[i]) {
          letter = static_cast<char16_t>(u'A' + i);
          used[i] = true;
          break;
        }
      }
    }
    if (letter == 0) continue;  // More mounts than letters.
    const std::optional<dev_t> block = BlockDevice(*entry);
    auto known = factsByMount.find(key);
    facts[key] = known != factsByMount.end() ? known->second : ProbeVolume(*entry, block);
    Drive drive;
    drive.letter = letter;
    drive.root = entry->mountPoint;
    drive.type = TypeOf(*entry, block);
    drive.label = Utf16(facts[key].label);
    drive.serial = SerialOf(facts[key], *entry);
    drive.bytesPerSector = SectorSizeOf(*entry, block);
    drive.device = entry->device;
    drive.mountRoot = true;
    drives.push_back(std::move(drive));
  }
  std::erase_if(letters, [](const auto& kv) { return kv.second == 0; });
  lettersByMount = std::move(letters);
  factsByMount = std::move(facts);
  table = std::move(drives);
  tableGeneration.fetch_add(1);
}

void ScanInstalled() {
  std::vector<Drive> drives;
  for (const TestDrive& test : testDrives) {
    Drive drive;
    drive.letter = test.letter;
    drive.root = test.folder;
    while (drive.root.size() > 1 && drive.root.back() == '/') drive.root.pop_back();
    drive.type = test.type;
    drive.label = test.label;
    drive.serial = test.serial;
    drive.bytesPerSector = test.bytesPerSector;
    struct stat st {};
    if (::stat(drive.root.c_str(), &st) != 0) continue;  // A folder that is gone is no drive.
    drive.device = st.st_dev;
    struct stat parent {};
    drive.mountRoot = drive.root == "/" || (::stat((drive.root + "/..").c_str(), &parent) == 0 && parent.st_dev != st.st_dev);
    drives.push_back(std::move(drive));
  }
  table = std::move(drives);
  tableGeneration.fetch_add(1);
}

void Rescan() {
  std::unique_lock lock(tableLock);
  if (installed) {
    ScanInstalled();
  } else {
    ScanSystem();
  }
  scanned = true;
}

void EnsureScanned() {
  {
    std::shared_lock lock(tableLock);
    if (scanned) return;
  }
  Rescan();
}

std::optional<Drive> FindDrive(std::u16string_view root) {
  if (root.empty()) return std::nullopt;
  char16_t letter = root[0];
  if (letter >= u'a' && letter <= u'z') letter = static_cast<char16_t>(letter - 32);
  if (root.size() >= 2 && root[1] != u':') return std::nullopt;
  EnsureScanned();
  std::shared_lock lock(tableLock);
  for (const Drive& drive : table) {
    if (drive.letter == letter) return drive;
  }
  return std::nullopt;
}

}  // namespace

DWORD GetLogicalDrives() {
  Rescan();
  std::shared_lock lock(tableLock);
  DWORD mask = 0;
  for (const Drive& drive : table) {
    if (drive.letter >= u'A' && drive.letter < u'A' + 32) mask |= 1u << (drive.letter - u'A');
  }
  return mask;
}

DWORD GetDriveTypeW(std::u16string_view root) {
  auto drive = FindDrive(root);
  return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

bool GetVolumeInformationW(std::u16string_view root, std::u16string* label, DWORD* serial) {
  auto drive = FindDrive(root);
  if (!drive) return detail::Fail(ERROR_PATH_NOT_FOUND);
  if (label != nullptr) *label = drive->label;
  if (serial != nullptr) *serial = drive->serial;
  return true;
}

bool GetDiskFreeSpaceW(std::u16string_view root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* freeClusters, DWORD* totalClusters) {
  auto drive = FindDrive(root);
  if (!drive) return detail::Fail(ERROR_PATH_NOT_FOUND);
  struct statvfs vfs {};
  if (::statvfs(drive->root.c_str(), &vfs) != 0) return detail::FailErrno(errno);
  const std::uint64_t cluster = std::max<std::uint64_t>(vfs.f_frsize, drive->bytesPerSector);
  if (sectorsPerCluster != nullptr) *sectorsPerCluster = static_cast<DWORD>(cluster / drive->bytesPerSector);
  if (bytesPerSector != nullptr) *bytesPerSector = drive->bytesPerSector;
  const auto clusters = [&](std::uint64_t blocks) {
    return static_cast<DWORD>(std::min<std::uint64_t>(blocks * vfs.f_frsize / cluster, 0xFFFFFFFFu));
  };
  if (freeClusters != nullptr) *freeClusters = clusters(vfs.f_bavail);
  if (totalClusters != nullptr) *totalClusters = clusters(vfs.f_blocks);
  return true;
}

bool GetDiskFreeSpaceExW(std::u16string_view root, std::uint64_t* freeToCaller,
                         std::uint64_t* totalBytes, std::uint64_t* totalFree) {
  auto drive = FindDrive(root);
  if (!drive) return detail::Fail(ERROR_PATH_NOT_FOUND);
  struct statvfs vfs {};
  if (::statvfs(drive->root.c_str(), &vfs) != 0) return detail::FailErrno(errno);
  if (freeToCaller != nullptr) *freeToCaller = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  if (totalBytes != nullptr) *totalBytes = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
  if (totalFree != nullptr) *totalFree = static_cast<std::uint64_t>(vfs.f_bfree) * vfs.f_frsize;
  return true;
}

std::optional<std::string> DriveRoot(char16_t letter) {
  const char16_t root[] = {letter, u':', 0};
  auto drive = FindDrive(root);
  if (!drive) return std::nullopt;
  return drive->root;
}

void InstallDriveTable(std::vector<TestDrive> drives) {
  std::unique_lock lock(tableLock);
  testDrives = std::move(drives);
  installed = true;
  ScanInstalled();
  scanned = true;
}

void UseSystemDriveTable() {
  std::unique_lock lock(tableLock);
  installed = false;
  testDrives.clear();
  ScanSystem();
  scanned = true;
}

std::uint64_t MountTableGeneration() {
  StartWatcher();
  return mountGeneration.load();
}

namespace detail {

std::optional<std::string> RootOfLetter(char16_t letter) {
  const char16_t root[] = {letter, u':', 0};
  auto drive = FindDrive(root);
  if (!drive) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  // A drive whose mount went away must not resolve to the folder left underneath it.
  StartWatcher();
  Verified* seen = letter >= u'A' && letter <= u'Z' ? &verified[letter - u'A'] : nullptr;
  const std::uint64_t mounts = mountGeneration.load(), tables = tableGeneration.load();
  if (seen != nullptr && drive->mountRoot && mounts != 0 && seen->mounts.load() == mounts && seen->tables.load() == tables &&
      seen->device.load() == drive->device) {
    return drive->root;
  }
  struct stat st {};
  if (::stat(drive->root.c_str(), &st) != 0 || st.st_dev != drive->device) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  if (seen != nullptr) {
    seen->device.store(drive->device);
    seen->tables.store(tables);
    seen->mounts.store(mounts);
  }
  return drive->root;
}

std::optional<std::pair<char16_t, std::string>> DriveOfNative(std::string_view path) {
  EnsureScanned();
  std::shared_lock lock(tableLock);
  const Drive* best = nullptr;
  for (const Drive& drive : table) {
    const std::string& root = drive.root;
    const bool inside = root == "/" ? (!path.empty() && path[0] == '/')
                                    : (path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
                                       (path.size() == root.size() || path[root.size()] == '/'));
    if (inside && (best == nullptr || root.size() > best->root.size())) best = &drive;
  }
  if (best == nullptr) return std::nullopt;
  return std::make_pair(best->letter, best->root);
}

}  // namespace detail
}  // namespace win32
