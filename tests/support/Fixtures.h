#pragma once

// Real folders and real loop-mounted file systems for tests.

#include <cstdint>
#include <optional>
#include <string>

namespace prueba {

// A fresh folder under the system's temporary folder, removed with all its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Why loop-mounted file systems cannot be made here, or nothing when they can.
std::optional<std::string> LoopUnavailable();

// A file system of the given type on a loop device over an image file, mounted on a fresh
// folder; unmounted and detached at the end. type is "ext4", "ntfs" (through ntfs-3g) or
// "exfat" (exfatprogs, mounted through exfat-fuse) or "vfat" (FAT32 with serial 1234-ABCD,
// through the kernel's driver only).
class LoopVolume {
 public:
  LoopVolume(const std::string& type, std::uint64_t megabytes, unsigned sectorSize, const std::string& label);
  ~LoopVolume();
  LoopVolume(const LoopVolume&) = delete;
  LoopVolume& operator=(const LoopVolume&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::string& mountPoint() const { return mountPoint_; }
  const std::string& device() const { return device_; }
  const std::string& image() const { return image_; }  // the loop device's backing file

 private:
  TempDir dir_;
  std::string image_, device_, mountPoint_, error_;
  bool mounted_ = false;
  bool ok_ = false;
};

// For as long as it lives, the calling thread, and every thread it starts meanwhile, meets
// file permissions as an ordinary user does: as root it drops the capabilities that
// override them (from the effective set only, so they come back at the end).
class PermisosDeUsuario {
 public:
  PermisosDeUsuario();
  ~PermisosDeUsuario();
  PermisosDeUsuario(const PermisosDeUsuario&) = delete;
  PermisosDeUsuario& operator=(const PermisosDeUsuario&) = delete;

 private:
  bool dropped_ = false;
  unsigned effective_[2] = {0, 0};
};

// Runs a shell command; its exit status, and its standard output in *out when given.
int Run(const std::string& command, std::string* out = nullptr);

// Writes and reads whole files.
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
// Deterministic content of the given size.
std::string Pattern(std::size_t size, unsigned seed);

// A loopback TCP port nobody listens on now.
int PuertoLibre();

// The bytes of a counted UTF-16 string (as configuration and record files hold them) of an
// ASCII text.
std::string Contada(const std::string& ascii);

}  // namespace prueba
