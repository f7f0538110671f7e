#include "support/job_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "support/error.h"
#include "support/files.h"

namespace orx {
namespace {

constexpr std::string_view kPrefix = "job-";
// What earlier versions made a folder under before it held its lock.
constexpr std::string_view kStagingPrefix = ".job-";

// The folder is removed while its lock is held, so a second sweep running at
// the same time passes it by.
void RemoveIfAbandoned(const std::string& path) noexcept {
  const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.valid() || ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) return;
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void SweepAbandoned(const std::string& parent) noexcept {
  try {
    const CHandle<DIR, closedir> dir(::opendir(parent.c_str()));
    if (!dir) return;
    std::vector<std::string> abandoned;
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string_view name = entry->d_name;
      if (name.starts_with(kPrefix) || name.starts_with(kStagingPrefix)) {
        abandoned.push_back(JoinPath(parent, name));
      }
    }
    for (const std::string& path : abandoned) RemoveIfAbandoned(path);
  } catch (...) {
    // What cannot be swept now is tried again by the next job.
  }
}

}  // namespace

const std::string& JobFolder::Path() {
  if (!path_.empty()) return path_;
  parent_ = PrivateTempDir();
  SweepAbandoned(parent_);

  for (;;) {
    std::string made =
        JoinPath(parent_, std::string(kPrefix) + std::to_string(::getpid()) + "-XXXXXX");
    if (::mkdtemp(made.data()) == nullptr) throw CannotCreate(made, errno);
    UniqueFd lock(::open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!lock.valid()) {
      const int number = errno;
      ::rmdir(made.c_str());
      throw CannotCreate(made, number);
    }
    // Another job's sweep may have taken the folder in the moment before it
    // was locked; it is gone then, and another is made. Where the file
    // system keeps no locks a sweep cannot take one either and passes the
    // folder by, so the job goes on without.
    struct stat info {};
    if (::flock(lock.get(), LOCK_EX) == 0 && ::fstat(lock.get(), &info) == 0 &&
        info.st_nlink == 0) {
      continue;
    }
    lock_ = std::move(lock);
    path_ = made + "/";
    return path_;
  }
}

void JobFolder::Keep(std::string_view name) { kept_.emplace_back(name); }

JobFolder::~JobFolder() {
  if (path_.empty()) return;
  for (const std::string& name : kept_) {
    const std::string from = JoinPath(path_, name);
    const std::string to = JoinPath(parent_, name);
    ::rename(from.c_str(), to.c_str());
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace orx
