#pragma once
// A job's surroundings for tests: fixed clock (5 March 2008, 10:20:30), an
// in-memory event log, a log pane, and a private TMPDIR inside a scratch
// folder so that temporary files can be looked at.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/job_context.h"
#include "support/xml_document.h"
#include "testing/test_support.h"

namespace orx::testing {

class JobFixture : public ::testing::Test {
 public:
  JobFixture()
      : tmp_((std::filesystem::create_directory(dir_.path() / "tmp"), dir_ / "tmp")),
        tmpEnv_("TMPDIR", tmp_.c_str()) {
    InitXmlLibrary();
  }

  // Names of the files left in the program's temporary folder.
  std::vector<std::string> TempFileNames() const {
    std::vector<std::string> names;
    for (const auto& folder : std::filesystem::directory_iterator(tmp_)) {
      for (const auto& file : std::filesystem::directory_iterator(folder.path())) {
        names.push_back(file.path().filename().string());
      }
    }
    return names;
  }

  ScratchDir dir_;
  std::string tmp_;
  ScopedEnv tmpEnv_;
  FixedClock clock_{LocalDateTime{2008, 3, 5, 10, 20, 30}};
  KeyParameters params_ = KeyParameters::Initial(clock_);
  LogPane log_;
  MemoryEventSink events_;
  JobContext context_{params_, log_, events_, clock_, true, nullptr};
};

inline EventRecord ErrorRecord(std::string source, std::vector<std::string> strings) {
  return EventRecord{std::move(source), EventType::Error, 7, 0x40000103, std::move(strings)};
}

}  // namespace orx::testing
