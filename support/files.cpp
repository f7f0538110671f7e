#include "support/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "support/error.h"
#include "support/unique_fd.h"

namespace orx {
namespace {

std::string ErrnoText(int number) {
  char buffer[256];
  const char* text = strerror_r(number, buffer, sizeof buffer);
  return text ? text : "";
}

}  // namespace

Error CannotOpen(std::string_view name, int number) {
  return Error("Cannot open file \"" + std::string(name) + "\". " + ErrnoText(number));
}

Error CannotCreate(std::string_view name, int number) {
  return Error("Cannot create file \"" + std::string(name) + "\". " + ErrnoText(number));
}

Error StreamReadError(std::string_view name, int number) {
  return Error("Stream read error, file \"" + std::string(name) + "\". " + ErrnoText(number));
}

Error StreamWriteError(std::string_view name, int number) {
  return Error("Stream write error, file \"" + std::string(name) + "\". " + ErrnoText(number));
}

namespace {

// A FIFO without a peer must not hang the open, so files are opened
// non-blocking and switched back to blocking I/O once open.
bool ClearNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Six letters or digits from the kernel's random source; 0 or an errno.
int RandomName(std::string& name) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    got += static_cast<std::size_t>(n);
  }
  name.clear();
  for (const unsigned char byte : bytes) name += kAlphabet[byte % (sizeof kAlphabet - 1)];
  return 0;
}

// Creates folder/prefix + random + suffix exclusively, never through a
// symbolic link, retrying on a name already taken. Returns the open
// descriptor, or -errno; path holds the last name tried.
int CreateExclusive(std::string_view folder, std::string_view prefix, std::string_view suffix,
                    std::string& path) {
  constexpr int kAttempts = 100;
  for (int attempt = 0;; ++attempt) {
    std::string random;
    if (const int error = RandomName(random); error != 0) return -error;
    path = JoinPath(folder, std::string(prefix) + random + std::string(suffix));
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST || attempt + 1 == kAttempts) return -errno;
  }
}

// The process's umask, read without changing it (umask() would, for a moment,
// for every thread).
mode_t CurrentUmask() {
  constexpr mode_t kUsual = 022;
  try {
    const std::string status = FileToString("/proc/self/status");
    const auto at = status.find("\nUmask:");
    if (at == std::string::npos) return kUsual;
    const char* digits = status.c_str() + at + 7;
    char* end = nullptr;
    const unsigned long mask = std::strtoul(digits, &end, 8);
    return end == digits ? kUsual : static_cast<mode_t>(mask & 0777);
  } catch (const Error&) {
    return kUsual;
  }
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = ENOSPC;  // no progress and no reason: the file cannot grow
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string ReplacedFile(std::string_view target) {
  constexpr int kMaxLinks = 40;  // as the kernel's own limit
  const uid_t uid = ::geteuid();
  std::string path(target);
  for (int links = 0;; ++links) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) return path;  // a new file, or where a dangling link points
      throw CannotCreate(target, errno);
    }
    if (S_ISREG(info.st_mode)) return path;
    if (S_ISDIR(info.st_mode)) throw CannotCreate(target, EISDIR);
    if (!S_ISLNK(info.st_mode)) {
      throw Error("Cannot create file \"" + std::string(target) + "\". Это не обычный файл");
    }
    if (info.st_uid != uid) {
      throw Error("Cannot create file \"" + std::string(target) +
                  "\". Символическая ссылка другого пользователя (uid " +
                  std::to_string(info.st_uid) + ") не используется: \"" + path + "\"");
    }
    if (links == kMaxLinks) throw CannotCreate(target, ELOOP);
    std::string next(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), next.data(), next.size());
    if (length < 0) throw CannotCreate(target, errno);
    if (static_cast<std::size_t>(length) >= next.size()) throw CannotCreate(target, ENAMETOOLONG);
    next.resize(static_cast<std::size_t>(length));
    if (next.empty() || next.front() != '/') {
      const auto slash = path.rfind('/');
      if (slash != std::string::npos) next = path.substr(0, slash + 1) + next;
    }
    path = std::move(next);
  }
}


std::string JoinPath(std::string_view dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  std::string path(dir);
  if (path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string ExtractDir(std::string_view path) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash));
}

std::string PrivateTempDir() {
  std::string base = "/tmp";
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir && *tmpdir) {
    struct stat info {};
    if (::stat(tmpdir, &info) == 0 && S_ISDIR(info.st_mode)) base = tmpdir;
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const uid_t uid = ::geteuid();
  const std::string dir = JoinPath(base, "convertor-orx-" + std::to_string(uid));
  // Another user may hold the name first (in a shared /tmp, on purpose or
  // not); a folder of the user's own is the way out.
  const auto refuse = [&dir](const std::string& why) {
    return Error("Нет личного каталога для временных файлов: \"" + dir + "\" " + why +
                 "; укажите в переменной TMPDIR свой каталог для временных файлов");
  };

  if (::mkdir(dir.c_str(), 0700) == 0) {
    // The umask may have taken bits away; 0700 is what the checks expect.
    if (::chmod(dir.c_str(), 0700) != 0) throw refuse("не сделать личным: " + ErrnoText(errno));
  } else if (errno != EEXIST) {
    throw refuse("не создать: " + ErrnoText(errno));
  }
  // Whatever is there must be our own private folder: never a symbolic
  // link, never a folder another user made or can look into.
  struct stat info {};
  if (::lstat(dir.c_str(), &info) != 0) throw refuse("не проверить: " + ErrnoText(errno));
  if (S_ISLNK(info.st_mode)) throw refuse("- символическая ссылка");
  if (!S_ISDIR(info.st_mode)) throw refuse("- не каталог");
  if (info.st_uid != uid) {
    throw refuse("принадлежит другому пользователю (uid " + std::to_string(info.st_uid) + ")");
  }
  if ((info.st_mode & 07777) != 0700) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    throw refuse("имеет права " + std::string(mode) + ", а не 0700");
  }
  return dir + "/";
}

std::string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return ExtractDir(exe.string());
}

std::string GetTempDir() {
  try {
    return PrivateTempDir();
  } catch (...) {
    return {};
  }
}

std::string FileToString(std::string_view fileName) {
  return FileToString(fileName, std::string::npos, {});
}

namespace {

std::string ReadFile(std::string_view fileName, std::size_t limit, std::size_t streamLimit,
                     std::string_view tooLarge, bool upToZero) {
  const std::string name(fileName);
  const UniqueFd file(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) throw CannotOpen(fileName, errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw CannotOpen(fileName, errno);
  if (S_ISDIR(info.st_mode)) throw CannotOpen(fileName, EISDIR);
  if (!ClearNonBlocking(file.get())) throw CannotOpen(fileName, errno);
  if (!S_ISREG(info.st_mode)) limit = std::min(limit, streamLimit);

  std::string bytes;
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    if (static_cast<std::uintmax_t>(info.st_size) > limit) throw Error(std::string(tooLarge));
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw StreamReadError(fileName, errno);
    }
    std::string_view piece(buffer, static_cast<std::size_t>(n));
    const std::size_t zero = upToZero ? piece.find('\0') : std::string_view::npos;
    piece = piece.substr(0, zero);
    // A device or a file still growing is cut off here, not read to the end.
    if (piece.size() > limit - bytes.size()) throw Error(std::string(tooLarge));
    bytes.append(piece);
    if (zero != std::string_view::npos) break;
  }
  return bytes;
}

}  // namespace

std::string FileToString(std::string_view fileName, std::size_t limit, std::string_view tooLarge) {
  return ReadFile(fileName, limit, limit, tooLarge, false);
}

std::string TextFileToString(std::string_view fileName, std::size_t streamLimit,
                             std::string_view tooLarge) {
  return ReadFile(fileName, std::string::npos, streamLimit, tooLarge, true);
}

void StringToFile(std::string_view bytes, std::string_view fileName) {
  const std::string name(fileName);
  UniqueFd file(::open(name.c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644));
  if (file.get() < 0) throw CannotCreate(fileName, errno);
  if (!ClearNonBlocking(file.get())) throw CannotCreate(fileName, errno);
  if (!WriteAll(file.get(), bytes) || !file.Close()) throw StreamWriteError(fileName, errno);
}

TempFile::TempFile(std::string_view folder, std::string_view prefix, std::string_view suffix) {
  const int fd = CreateExclusive(folder, prefix, suffix, path_);
  if (fd < 0) throw CannotCreate(path_, -fd);
  file_ = UniqueFd(fd);
}

TempFile::~TempFile() { Remove(); }

void TempFile::Remove() noexcept {
  if (owned_ && !path_.empty()) ::unlink(path_.c_str());
  owned_ = false;
}

std::string TempFile::Release() noexcept {
  owned_ = false;
  return path_;
}

namespace {

constexpr std::string_view kWriterPrefix = ".orx-";
constexpr std::string_view kWriterSuffix = ".tmp";

// Removes the temporaries of writers in folder that no one holds: their
// writer was killed before it could rename or remove them. A temporary is
// removed while its lock is held, so no writer can be using it, and only
// one of the user's own, never anything through a link.
void SweepAbandonedTemporaries(const std::string& folder) noexcept {
  const CHandle<DIR, closedir> dir(::opendir(folder.empty() ? "." : folder.c_str()));
  if (!dir) return;
  const uid_t uid = ::geteuid();
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name.size() != kWriterPrefix.size() + 6 + kWriterSuffix.size() ||
        !name.starts_with(kWriterPrefix) || !name.ends_with(kWriterSuffix)) {
      continue;
    }
    const UniqueFd file(::openat(::dirfd(dir.get()), entry->d_name,
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    struct stat named {};
    if (!file.valid() || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        opened.st_uid != uid || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 ||
        ::fstatat(::dirfd(dir.get()), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
      continue;
    }
    ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
  }
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string_view target, FileAccess access)
    : target_(target), file_(ReplacedFile(target)) {
  folder_ = ExtractDir(file_);
  if (folder_.empty() && !file_.empty() && file_.front() == '/') folder_ = "/";

  // An existing file keeps its permissions; a new one gets what
  // StringToFile would give it. A secret is its owner's alone in any case.
  mode_ = 0644 & ~CurrentUmask();
  struct stat existing {};
  if (::lstat(file_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    mode_ = existing.st_mode & 07777;
  }
  if (access == FileAccess::OwnerOnly) mode_ = 0600;

  SweepAbandonedTemporaries(folder_);
  for (;;) {
    const int created = CreateExclusive(folder_, kWriterPrefix, kWriterSuffix, tempPath_);
    if (created < 0) throw CannotCreate(target, -created);
    output_ = UniqueFd(created);
    // Another writer's sweep may have taken the temporary in the moment
    // before it was locked; it is gone then, and another is made. Where the
    // file system keeps no locks, no sweep can take one either.
    struct stat info {};
    if (::flock(output_.get(), LOCK_EX) != 0 || ::fstat(output_.get(), &info) != 0 ||
        info.st_nlink > 0) {
      break;
    }
  }
}

AtomicFileWriter::~AtomicFileWriter() {
  if (!committed_ && !tempPath_.empty()) ::unlink(tempPath_.c_str());
}

void AtomicFileWriter::Write(std::string_view bytes) {
  if (!WriteAll(output_.get(), bytes)) throw StreamWriteError(target_, errno);
}

void AtomicFileWriter::Commit() {
  if (::fsync(output_.get()) != 0) throw StreamWriteError(target_, errno);
  if (::fchmod(output_.get(), mode_) != 0) throw CannotCreate(target_, errno);
  // The name is given while the lock is still held, so no sweep can take
  // the temporary in between. rename() replaces whatever name stands there
  // now and never follows it, so a link planted after the checks above is
  // replaced, not followed.
  if (::rename(tempPath_.c_str(), file_.c_str()) != 0) throw CannotCreate(target_, errno);
  committed_ = true;
  // The bytes are on the disk already (fsync), so closing has nothing left
  // to report.
  static_cast<void>(output_.Close());

  // Make the rename itself durable; the new contents are already in place.
  const UniqueFd dir(
      ::open(folder_.empty() ? "." : folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

void WriteFileAtomically(std::string_view bytes, std::string_view target, FileAccess access) {
  AtomicFileWriter writer(target, access);
  writer.Write(bytes);
  writer.Commit();
}

}  // namespace orx
