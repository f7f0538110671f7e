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

// A folder of a job is first made under a dot name and given its job- name
// only once it holds its lock, so that a sweep never mistakes a job that is
// just starting for a dead one.
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
      if (name.starts_with(kPrefix)) abandoned.push_back(JoinPath(parent, name));
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

  std::string staging =
      JoinPath(parent_, std::string(kStagingPrefix) + std::to_string(::getpid()) + "-XXXXXX");
  if (::mkdtemp(staging.data()) == nullptr) throw CannotCreate(staging, errno);
  UniqueFd lock(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  const int opened = errno;
  const std::string named = JoinPath(parent_, staging.substr(parent_.size() + 1));
  // Where the file system keeps no locks a sweep cannot take one either and
  // passes the folder by, so the job goes on without.
  if (lock.valid()) (void)::flock(lock.get(), LOCK_EX);
  if (!lock.valid() || ::rename(staging.c_str(), named.c_str()) != 0) {
    const int number = lock.valid() ? errno : opened;
    ::rmdir(staging.c_str());
    throw CannotCreate(named, number);
  }
  lock_ = std::move(lock);
  path_ = named + "/";
  return path_;
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
