#pragma once
// A job's own folder inside the user's private temporary folder, so that
// jobs of the same user running at the same time (scripts, cron, a window
// beside a batch run) never read or replace each other's intermediate files.
#include <string>
#include <string_view>
#include <vector>

#include "support/unique_fd.h"

namespace orx {

// The folder is made on the first call of Path(): job-<pid>-<random>/ in
// GetTempDir(), mode 0700, holding an exclusive lock (flock) for as long as
// this object lives. The lock dies with the process, so a folder whose lock
// can be taken belongs to a job that was killed: making a new folder first
// removes every such folder (and the ".job-" folders of earlier versions). The destructor moves the files named by Keep()
// up into the private temporary folder (replacing files of the same name)
// and removes the folder with everything else in it.
//
// Not thread-safe; one object per job.
class JobFolder {
 public:
  JobFolder() = default;
  ~JobFolder();
  JobFolder(const JobFolder&) = delete;
  JobFolder& operator=(const JobFolder&) = delete;

  // The folder's path, ending in "/". Throws PrivateTempDir()'s Error when
  // the private temporary folder cannot be had, or the file layer's "Cannot
  // create file" message when the job's folder cannot be made in it.
  const std::string& Path();
  // A file of this folder that outlives the job (its name, no folder part).
  void Keep(std::string_view name);

 private:
  std::string parent_;
  std::string path_;
  UniqueFd lock_;
  std::vector<std::string> kept_;
};

}  // namespace orx
