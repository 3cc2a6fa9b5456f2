#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/errors.h"
#include "platform/linux/handles.h"
#include "platform/linux/internal.h"
#include "platform/linux/port.h"
#include "platform/strings.h"

namespace win32 {

namespace {

using detail::Fail;
using detail::FailErrno;
using detail::FileObject;

// Windows share modes, honoured among the handles of this process. Guarded by shareLock.
struct ShareEntry {
  std::uint64_t id = 0;
  dev_t device = 0;
  ino_t inode = 0;
  DWORD access = 0;
  DWORD share = 0;
};
std::mutex shareLock;
std::vector<ShareEntry> shareTable;
std::uint64_t nextShareId = 1;

bool Conflicts(const ShareEntry& open, DWORD access, DWORD share) {
  const bool reads = (access & GENERIC_READ) != 0, writes = (access & GENERIC_WRITE) != 0;
  const bool openReads = (open.access & GENERIC_READ) != 0;
  const bool openWrites = (open.access & GENERIC_WRITE) != 0;
  return (reads && !(open.share & FILE_SHARE_READ)) || (writes && !(open.share & FILE_SHARE_WRITE)) ||
         (openReads && !(share & FILE_SHARE_READ)) || (openWrites && !(share & FILE_SHARE_WRITE));
}

// Registers the open when no other handle of this process forbids it.
bool RegisterShare(FileObject& file) {
  std::lock_guard guard(shareLock);
  for (const ShareEntry& open : shareTable) {
    if (open.device == file.device && open.inode == file.inode && Conflicts(open, file.access, file.share)) {
      return false;
    }
  }
  file.shareId = nextShareId++;
  shareTable.push_back({file.shareId, file.device, file.inode, file.access, file.share});
  return true;
}

void UnregisterShare(std::uint64_t id) {
  std::lock_guard guard(shareLock);
  std::erase_if(shareTable, [&](const ShareEntry& e) { return e.id == id; });
}

bool DeleteForbidden(dev_t device, ino_t inode) {
  std::lock_guard guard(shareLock);
  for (const ShareEntry& open : shareTable) {
    if (open.device == device && open.inode == inode && !(open.share & FILE_SHARE_DELETE)) return true;
  }
  return false;
}

std::shared_ptr<FileObject> FileOf(HANDLE handle) {
  auto file = detail::Lookup<FileObject>(handle);
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

bool Transfer(HANDLE handle, detail::Request::Kind kind, void* buffer, DWORD count, DWORD* done,
              OVERLAPPED* overlapped) {
  auto file = FileOf(handle);
  if (!file) return false;
  if (done != nullptr) *done = 0;
  auto request = std::make_unique<detail::Request>();
  request->kind = kind;
  request->file = file;
  request->buffer = static_cast<char*>(buffer);
  request->count = count;
  request->overlapped = overlapped;
  std::shared_ptr<detail::Port> port;
  {
    std::lock_guard guard(file->lock);
    port = file->port;
    request->key = file->key;
    request->offset = overlapped != nullptr
                          ? static_cast<std::int64_t>((static_cast<std::uint64_t>(overlapped->OffsetHigh) << 32) |
                                                      overlapped->Offset)
                          : file->pointer;
  }
  if (file->overlapped && overlapped != nullptr && port) {
    overlapped->Internal = ERROR_IO_PENDING;
    overlapped->InternalHigh = 0;
    if (!port->Start(std::move(request))) return false;
    SetLastError(ERROR_IO_PENDING);
    return false;
  }
  const int error = detail::RunTransfer(*request);
  const detail::Completion completion = detail::Finish(*request, error);
  if (done != nullptr) *done = completion.bytes;
  if (overlapped == nullptr) {
    std::lock_guard guard(file->lock);
    file->pointer += completion.bytes;
  }
  if (completion.error != ERROR_SUCCESS) return Fail(completion.error);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool OmittedTime(const FILETIME* time) {
  if (time == nullptr) return true;
  const std::int64_t value = FileTimeToInt64(*time);
  return value == 0 || value == -1;
}

}  // namespace

namespace detail {

bool CloseFileObject(const std::shared_ptr<FileObject>& file) {
  if (file->shareId != 0) UnregisterShare(file->shareId);
  if ((file->flags & FILE_FLAG_DELETE_ON_CLOSE) != 0) ::unlink(file->path.c_str());
  return true;
}

}  // namespace detail

namespace {

// "\\.\X:": the drive's mount root, held open so that the volume can be flushed.
HANDLE OpenVolume(char16_t letter) {
  if (letter >= u'a' && letter <= u'z') letter = static_cast<char16_t>(letter - 32);
  auto root = detail::RootOfLetter(letter);
  if (!root) return INVALID_HANDLE_VALUE;
  const int fd = ::open(root->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    FailErrno(errno, &*root);
    return INVALID_HANDLE_VALUE;
  }
  auto file = std::make_shared<FileObject>();
  file->fd = fd;
  file->path = *root;
  file->directory = true;
  file->volume = true;
  SetLastError(ERROR_SUCCESS);
  return detail::InsertHandle(file);
}

}  // namespace

HANDLE CreateFileW(std::u16string_view path, DWORD access, DWORD share, const void* /*security*/,
                   DWORD disposition, DWORD flags, HANDLE /*templateFile*/) {
  if (path.size() == 6 && path.substr(0, 4) == u"\\\\.\\" && path[5] == u':') return OpenVolume(path[4]);
  auto native = NativePath(path);
  if (!native) return INVALID_HANDLE_VALUE;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // The open itself tells whether the file existed (an exclusive create first) and whether
  // it is a folder, without a look beforehand: on small files the looks cost more than the
  // copy.
  const bool reads = (access & GENERIC_READ) != 0, writes = (access & GENERIC_WRITE) != 0;
  const bool backup = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  // O_NONBLOCK keeps a FIFO or device in a copied tree from hanging the open.
  int base = O_CLOEXEC | O_NONBLOCK | (reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY);
  if ((flags & FILE_FLAG_WRITE_THROUGH) != 0) base |= O_DSYNC;
  const bool creates = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  const bool wantDirect = (flags & FILE_FLAG_NO_BUFFERING) != 0;
  const mode_t mode = (flags & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  bool existed = !creates;
  bool direct = wantDirect;
  int fd = -1;
  int openFlags = base | (creates ? O_CREAT | O_EXCL : 0);
  for (int attempt = 0; attempt < 4 && fd < 0; ++attempt) {
    fd = ::open(native->c_str(), openFlags | (direct ? O_DIRECT : 0), mode);
    if (fd >= 0) break;
    const int error = errno;
    if (error == EEXIST && (openFlags & O_EXCL) != 0 && disposition != CREATE_NEW) {
      openFlags &= ~(O_CREAT | O_EXCL);  // It exists: open it as it is.
      existed = true;
    } else if (error == EISDIR && backup) {
      openFlags = O_CLOEXEC | O_RDONLY | O_DIRECTORY;  // A folder opens for its times only.
      direct = false;
    } else if (error == EINVAL && direct) {
      // The file system refuses unbuffered transfers; buffered ones carry the same data. An
      // exclusive create got as far as making the file.
      direct = false;
      openFlags &= ~O_EXCL;
    } else {
      if (error == EEXIST && disposition == CREATE_NEW) {
        Fail(ERROR_FILE_EXISTS);
      } else {
        FailErrno(error, &*native);
      }
      return INVALID_HANDLE_VALUE;
    }
  }
  if (fd < 0) {
    Fail(ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  auto file = std::make_shared<FileObject>();
  file->fd = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    FailErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(st.st_mode) && !backup) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(st.st_mode)) direct = false;
  // Transfers wait for their data like on any other file.
  if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  file->path = *native;
  file->access = access;
  file->share = share;
  file->flags = flags;
  file->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
  file->direct = direct;
  file->directory = S_ISDIR(st.st_mode);
  file->stream = S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
  file->type = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)  ? FILE_TYPE_PIPE
               : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? FILE_TYPE_CHAR
                                                            : FILE_TYPE_DISK;
  file->device = st.st_dev;
  file->inode = st.st_ino;
  if (!RegisterShare(*file)) {
    Fail(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (existed && S_ISREG(st.st_mode) && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) &&
      ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    detail::CloseFileObject(file);
    FailErrno(error);
    return INVALID_HANDLE_VALUE;
  }
  if ((flags & FILE_FLAG_SEQUENTIAL_SCAN) != 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if ((flags & FILE_FLAG_RANDOM_ACCESS) != 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  const HANDLE handle = detail::InsertHandle(file);
  SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                     : ERROR_SUCCESS);
  return handle;
}

bool ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, OVERLAPPED* overlapped) {
  return Transfer(file, detail::Request::Kind::Read, buffer, count, done, overlapped);
}

bool WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done, OVERLAPPED* overlapped) {
  // The buffer is only read from; the request type is shared with reads.
  return Transfer(file, detail::Request::Kind::Write, const_cast<void*>(buffer), count, done, overlapped);
}

bool CancelIo(HANDLE handle) {
  auto file = FileOf(handle);
  if (!file) return false;
  std::shared_ptr<detail::Port> port;
  {
    std::lock_guard guard(file->lock);
    port = file->port;
  }
  if (port) port->Cancel(file.get(), nullptr);
  return true;
}

bool CancelIoEx(HANDLE handle, OVERLAPPED* overlapped) {
  auto file = FileOf(handle);
  if (!file) return false;
  std::shared_ptr<detail::Port> port;
  {
    std::lock_guard guard(file->lock);
    port = file->port;
  }
  if (!port || !port->Cancel(file.get(), overlapped)) return Fail(ERROR_NOT_FOUND);
  return true;
}

DWORD SetFilePointer(HANDLE handle, std::int32_t distanceLow, std::int32_t* distanceHigh, DWORD method) {
  auto file = FileOf(handle);
  if (!file) return INVALID_SET_FILE_POINTER;
  const std::int64_t distance =
      distanceHigh != nullptr
          ? static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                                      static_cast<std::uint32_t>(distanceLow))
          : distanceLow;
  std::int64_t base = 0;
  if (method == FILE_CURRENT) {
    std::lock_guard guard(file->lock);
    base = file->pointer;
  } else if (method == FILE_END) {
    struct stat st {};
    if (::fstat(file->fd, &st) != 0) {
      FailErrno(errno);
      return INVALID_SET_FILE_POINTER;
    }
    base = st.st_size;
  } else if (method != FILE_BEGIN) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const std::int64_t position = base + distance;
  if (position < 0) {
    Fail(131);  // ERROR_NEGATIVE_SEEK
    return INVALID_SET_FILE_POINTER;
  }
  {
    std::lock_guard guard(file->lock);
    file->pointer = position;
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<std::int32_t>(static_cast<std::uint64_t>(position) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(static_cast<std::uint64_t>(position) & 0xFFFFFFFFu);
}

bool SetEndOfFile(HANDLE handle) {
  auto file = FileOf(handle);
  if (!file) return false;
  std::int64_t length = 0;
  {
    std::lock_guard guard(file->lock);
    length = file->pointer;
  }
  struct stat st {};
  if (::fstat(file->fd, &st) != 0) return FailErrno(errno);
  if (length > st.st_size) {
    if (::fallocate(file->fd, 0, 0, length) != 0) {
      const int error = errno;
      if (error != EOPNOTSUPP && error != ENOSYS) return FailErrno(error);
    }
  }
  if (::ftruncate(file->fd, length) != 0) return FailErrno(errno);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool GetFileSizeEx(HANDLE handle, std::int64_t* size) {
  auto file = FileOf(handle);
  if (!file) return false;
  struct stat st {};
  if (::fstat(file->fd, &st) != 0) return FailErrno(errno);
  *size = st.st_size;
  return true;
}

bool FlushFileBuffers(HANDLE handle) {
  auto file = FileOf(handle);
  if (!file) return false;
  if (file->volume && ::syncfs(file->fd) != 0) return FailErrno(errno);
  if (::fsync(file->fd) != 0) return FailErrno(errno);
  return true;
}

bool DiscardFileCache(HANDLE handle) {
  auto file = FileOf(handle);
  if (!file) return false;
  const int error = ::posix_fadvise(file->fd, 0, 0, POSIX_FADV_DONTNEED);
  if (error != 0) return FailErrno(error);
  return true;
}

bool RefreshFileCache(HANDLE handle) {
  auto file = FileOf(handle);
  if (!file) return false;
  int error = ::posix_fadvise(file->fd, 0, 0, POSIX_FADV_DONTNEED);
  if (error == 0) error = ::posix_fadvise(file->fd, 0, 0, POSIX_FADV_WILLNEED);
  if (error != 0) return FailErrno(error);
  return true;
}

DWORD GetFileType(HANDLE handle) {
  auto file = FileOf(handle);
  if (!file) return FILE_TYPE_UNKNOWN;
  return file->type;
}

bool SetFileTime(HANDLE handle, const FILETIME* /*creation*/, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
  auto file = FileOf(handle);
  if (!file) return false;
  timespec times[2];
  times[0] = OmittedTime(lastAccess) ? timespec{0, UTIME_OMIT} : detail::TimespecFromFileTime(*lastAccess);
  times[1] = OmittedTime(lastWrite) ? timespec{0, UTIME_OMIT} : detail::TimespecFromFileTime(*lastWrite);
  if (::futimens(file->fd, times) != 0) return FailErrno(errno);
  return true;
}

bool SetFileAttributesW(std::u16string_view path, DWORD attributes) {
  auto native = NativePath(path);
  if (!native) return false;
  struct stat st {};
  if (::stat(native->c_str(), &st) != 0) return FailErrno(errno, &*native);
  if (S_ISREG(st.st_mode)) {
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const bool writable = (st.st_mode & S_IWUSR) != 0;
    if (readOnly && writable && ::chmod(native->c_str(), st.st_mode & 07555) != 0) return FailErrno(errno);
    if (!readOnly && !writable && ::chmod(native->c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) {
      return FailErrno(errno);
    }
  }
  return true;
}

bool DeleteFileW(std::u16string_view path) {
  auto native = NativePath(path);
  if (!native) return false;
  struct stat st {};
  if (::lstat(native->c_str(), &st) != 0) return FailErrno(errno, &*native);
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) return Fail(ERROR_ACCESS_DENIED);
  if (DeleteForbidden(st.st_dev, st.st_ino)) return Fail(ERROR_SHARING_VIOLATION);
  if (::unlink(native->c_str()) != 0) return FailErrno(errno, &*native);
  return true;
}

bool RemoveDirectoryW(std::u16string_view path) {
  auto native = NativePath(path);
  if (!native) return false;
  if (::rmdir(native->c_str()) != 0) {
    if (errno == ENOTDIR) return Fail(ERROR_DIRECTORY);
    return FailErrno(errno, &*native);
  }
  return true;
}

bool ForceDirectories(std::u16string_view path) {
  auto native = NativePath(path);
  if (!native) return false;
  std::string& full = *native;
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  for (std::size_t i = 1; i <= full.size(); ++i) {
    if (i < full.size() && full[i] != '/') continue;
    const std::string part = full.substr(0, i);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return FailErrno(errno, &part);
  }
  struct stat st {};
  if (::stat(full.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
  return true;
}

}  // namespace win32
