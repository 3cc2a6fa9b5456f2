#include "tests/support/Fixtures.h"

#include <arpa/inet.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace prueba {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vertilo-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  path_ = made != nullptr ? std::string(made) : std::string();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code error;
  // Read-only entries are made writable first, so that everything goes.
  Run("chmod -R u+w '" + path_ + "' 2>/dev/null");
  std::filesystem::remove_all(path_, error);
}

int Run(const std::string& command, std::string* out) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> buffer{};
  std::string text;
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<std::string> LoopUnavailable() {
  if (::geteuid() != 0) return std::string("needs root to attach loop devices and mount them");
  if (::access("/dev/loop-control", F_OK) != 0) return std::string("this machine has no /dev/loop-control");
  if (Run("command -v losetup mkfs.ext4 mount umount >/dev/null 2>&1") != 0) {
    return std::string("losetup, mkfs.ext4 or mount is missing");
  }
  return std::nullopt;
}

LoopVolume::LoopVolume(const std::string& type, std::uint64_t megabytes, unsigned sectorSize,
                       const std::string& label) {
  if (auto why = LoopUnavailable()) {
    error_ = *why;
    return;
  }
  if (type == "ntfs" && Run("command -v mkntfs ntfs-3g >/dev/null 2>&1") != 0) {
    error_ = "mkntfs or ntfs-3g is missing";
    return;
  }
  if (type == "exfat" && Run("command -v mkfs.exfat mount.exfat-fuse >/dev/null 2>&1") != 0) {
    error_ = "mkfs.exfat (exfatprogs) or mount.exfat-fuse (exfat-fuse) is missing";
    return;
  }
  if (type == "vfat") {
    // FUSE FAT implementations are not faithful (one refuses to extend a file): the kernel's
    // driver or nothing.
    if (Run("grep -qw vfat /proc/filesystems || modprobe -q vfat 2>/dev/null") != 0 ||
        Run("grep -qw vfat /proc/filesystems") != 0) {
      error_ = "this kernel has no vfat driver (FAT32 is tested only through the kernel's own)";
      return;
    }
    if (Run("command -v mkfs.vfat >/dev/null 2>&1") != 0) {
      error_ = "mkfs.vfat (dosfstools) is missing";
      return;
    }
  }
  image_ = dir_ / "volume.img";
  mountPoint_ = dir_ / "mnt";
  ::mkdir(mountPoint_.c_str(), 0755);
  if (Run("truncate -s " + std::to_string(megabytes) + "M '" + image_ + "'") != 0) {
    error_ = "cannot make the image file";
    return;
  }
  std::string out;
  if (Run("losetup -f --show --sector-size " + std::to_string(sectorSize) + " '" + image_ + "' 2>&1", &out) != 0) {
    error_ = "losetup failed: " + out;
    return;
  }
  device_ = out.substr(0, out.find('\n'));
  std::string make, mount;
  if (type == "ntfs") {
    make = "mkntfs -q -F -f -s " + std::to_string(sectorSize) + " -L '" + label + "' " + device_;
    mount = "ntfs-3g " + device_ + " '" + mountPoint_ + "'";
  } else if (type == "exfat") {
    // As a USB stick comes formatted; the kernel here has no exfat driver, so FUSE mounts it.
    make = "mkfs.exfat " + (label.empty() ? "" : "-L '" + label + "' ") + device_;
    mount = "mount.exfat-fuse " + device_ + " '" + mountPoint_ + "'";
  } else if (type == "vfat") {
    // FAT32 as a card comes formatted, with a serial of its own so that tests know it.
    make = "mkfs.vfat -F 32 -S " + std::to_string(sectorSize) + " -i 1234ABCD " +
           (label.empty() ? "" : "-n '" + label + "' ") + device_;
    mount = "mount -t vfat " + device_ + " '" + mountPoint_ + "'";
  } else {
    make = "mkfs." + type + " -q -F " + (label.empty() ? "" : "-L '" + label + "' ") + device_;
    mount = "mount " + device_ + " '" + mountPoint_ + "'";
  }
  if (Run(make + " >/dev/null 2>&1") != 0) {
    error_ = "cannot make the " + type + " file system";
    return;
  }
  if (Run(mount + " 2>&1", &out) != 0) {
    error_ = "cannot mount: " + out;
    return;
  }
  mounted_ = true;
  ok_ = true;
}

LoopVolume::~LoopVolume() {
  if (mounted_) Run("umount '" + mountPoint_ + "' 2>/dev/null || umount -l '" + mountPoint_ + "' 2>/dev/null");
  if (!device_.empty()) Run("losetup -d " + device_ + " 2>/dev/null");
}

namespace {

// Capabilities through the raw system calls: they act on the calling thread only.
bool Capacidades(__user_cap_data_struct (&data)[2], bool set) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

PermisosDeUsuario::PermisosDeUsuario() {
  __user_cap_data_struct data[2] = {};
  if (::geteuid() != 0 || !Capacidades(data, false)) return;
  effective_[0] = data[0].effective;
  effective_[1] = data[1].effective;
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) data[cap / 32].effective &= ~(1u << (cap % 32));
  dropped_ = Capacidades(data, true);
}

PermisosDeUsuario::~PermisosDeUsuario() {
  if (!dropped_) return;
  __user_cap_data_struct data[2] = {};
  if (!Capacidades(data, false)) return;
  data[0].effective = effective_[0];
  data[1].effective = effective_[1];
  Capacidades(data, true);
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string text(size, '\0');
  std::mt19937 random(seed);
  for (char& c : text) c = static_cast<char>(random() & 0xFF);
  return text;
}

int PuertoLibre() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::string Contada(const std::string& ascii) {
  std::string out = {static_cast<char>(ascii.size()), 0, 0, 0};
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

}  // namespace prueba
