#include "package/package_job.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>

#include "package/cipher.h"
#include "package/source_document.h"
#include "support/files.h"
#include "testing/job_fixture.h"
#include "testing/zip_reader.h"

namespace orx {
namespace {

namespace fs = std::filesystem;
using ::orx::testing::ErrorRecord;
using ::orx::testing::ReadFile;
using ::orx::testing::RunProcess;
using ::orx::testing::SourceDir;

constexpr std::string_view kOfficeKey = "5B0E7D21C94A3F68E1D07B92A4C65F3E";
constexpr std::string_view kPackageName = "FA_007_01_2008.03.05_x.zip.cod";

class FakePicker final : public FolderPicker {
 public:
  FakePicker(bool chosen, std::string folder) : chosen_(chosen), folder_(std::move(folder)) {}
  bool Execute() override { return chosen_; }
  std::string Directory() const override { return chosen_ ? folder_ : std::string(); }

 private:
  bool chosen_;
  std::string folder_;
};

class PackageJobTest : public ::orx::testing::JobFixture {
 public:
  PackageJobTest() {
    fs::create_directory(out_);
    WriteKeyFile(kOfficeKey);
  }

  void WriteKeyFile(std::string_view officeKey,
                    std::string_view address = "https://127.0.0.1:8443/cdb/") {
    std::string key = "<DATAPACKET><ROWDATA><ROW PK_Code=\"FA\" orxn=\"7\" NumLocale=\"1\" orxk=\"" +
                      std::string(officeKey) + "\" sadr=\"" + std::string(address) +
                      "\" sport=\"8443\"/></ROWDATA></DATAPACKET>";
    EncryptCodStream(key, "");
    dir_.Write("i.cod", key);
  }

  JobOutcome Run(std::string_view folder) { return XmlToCod(job_.context, xml_, xsd_, folder, key_); }

  // The package file deciphered, after checking that nothing else was left.
  std::string PackageArchive(const std::string& folder, std::string_view officeKey) {
    EXPECT_EQ(TempFileNames(), std::vector<std::string>{"SourceConvert.xml"});
    std::string bytes = ReadFile(JoinPath(folder, kPackageName));
    DecryptCodStream(bytes, officeKey);
    return bytes;
  }

  std::string out_ = dir_ / "out";
  std::string xml_ = SourceDir() + "/examples/certificates.xml";
  std::string xsd_ = SourceDir() + "/examples/FA.xsd";
  std::string key_ = dir_ / "i.cod";
  std::string messageEnd_;  // how a failure's message must end, when that matters
};

// The name is the same all day: each later run replaces the file, a
// read-only one too, and says so.
TEST_F(PackageJobTest, WritesTheEncipheredArchiveUnderItsName) {
  ::orx::testing::ScopedEnv env("ORX_OUT", out_.c_str());
  const std::string target = JoinPath(out_, kPackageName);
  for (const std::string& folder : {out_, out_ + "/", std::string("%ORX_OUT%")}) {
    const bool replacing = fs::exists(target);
    if (replacing) fs::permissions(target, fs::perms(0444));
    ASSERT_EQ(Run(folder), JobOutcome::Succeeded) << folder;
    EXPECT_EQ(std::distance(fs::directory_iterator(out_), fs::directory_iterator()), 1);
    const std::string archive = PackageArchive(out_, kOfficeKey);
    const auto zip = ::orx::testing::ReadSingleEntryZip(archive);
    EXPECT_EQ(zip.central.name, "sync.xml");
    EXPECT_EQ(zip.central.method, 8);
    EXPECT_EQ(zip.central.flags, 0);
    EXPECT_EQ(zip.central.versionNeeded, 20);
    EXPECT_EQ(zip.central.dosDate, (28 << 9) | (3 << 5) | 5);
    EXPECT_EQ(zip.central.dosTime, (10 << 11) | (20 << 5) | 15);
    EXPECT_EQ(zip.externalAttributes, 0u);
    EXPECT_EQ(zip.content, GetSourceForPacking(JoinPath(GetTempDir(), "SourceConvert.xml")));
    EXPECT_NE(zip.content.find("<dataPacket  version=\"2.0\""), std::string::npos);
    EXPECT_EQ(job_.log.Lines(),
              replacing ? std::vector<std::string>{"Заменён прежний файл пакета с тем же именем: " +
                                                   target}
                        : std::vector<std::string>{});
    EXPECT_TRUE(job_.events.records().empty());
    const std::string unpacked = dir_.Write("check.zip", archive);
    EXPECT_EQ(RunProcess("/usr/bin/unzip", {"-tq", unpacked}).exitStatus, 0);
  }
}

// An empty office key enciphers with the fixed key text, as the receiving
// side expects; the server address is no concern of this job.
TEST_F(PackageJobTest, EmptyOfficeKeyOrAddressStillPacks) {
  struct Case {
    std::string_view officeKey, address, decipherWith;
  } cases[] = {{"", "https://127.0.0.1:8443/cdb/", ""}, {kOfficeKey, "", kOfficeKey}};
  for (const Case& c : cases) {
    WriteKeyFile(c.officeKey, c.address);
    ASSERT_EQ(Run(out_), JobOutcome::Succeeded) << c.address;
    const auto zip = ::orx::testing::ReadSingleEntryZip(PackageArchive(out_, c.decipherWith));
    EXPECT_EQ(zip.central.name, "sync.xml");
    EXPECT_TRUE(job_.events.records().empty());
  }
}

// The example's certificates many times over (the stamping writes it in
// many pieces), with head and tail inside the root.
// The line of the operator's file where tail begins comes back in tailLine.
std::string LongDocument(std::string_view head, std::string_view tail, int* tailLine = nullptr) {
  const std::string example = ReadFile(SourceDir() + "/examples/certificates.xml");
  const auto from = example.find("  <certificate ");
  const auto to = example.find("</certificate>", from) + std::string_view("</certificate>\n").size();
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dataPacket>\n";
  text += head;
  const std::string certificate = example.substr(from, to - from);
  const auto number = certificate.find("RU-FA-") + std::string_view("RU-FA-").size();
  for (int i = 0; i < 1500; ++i) {
    // Certificate numbers are unique in a valid document.
    const std::string digits = std::to_string(1000000 + i);
    text += certificate.substr(0, number) + digits + certificate.substr(number + digits.size());
  }
  if (tailLine != nullptr) *tailLine = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  text += tail;
  return text;
}

struct FailureCase {
  const char* what;
  std::function<void(PackageJobTest&, std::string& xml, std::string& key, std::string& folder)> setUp;
  std::vector<std::pair<std::string, std::string>> records;  // source, first string
  bool reasonOnly = false;  // the log pane holds the record's reason, no "ошибка: "
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.what; }

class PackageJobFailureTest : public PackageJobTest,
                              public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PackageJobFailureTest, RecordsReportsAndWritesNothing) {
  const std::string earlier = dir_.Write("out/" + std::string(kPackageName), "earlier");
  std::string xml = xml_, key = key_, folder = out_;
  GetParam().setUp(*this, xml, key, folder);
  EXPECT_EQ(XmlToCod(job_.context, xml, xsd_, folder, key), JobOutcome::Failed);

  const auto& records = job_.events.records();
  ASSERT_EQ(records.size(), GetParam().records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i], ErrorRecord(GetParam().records[i].first,
                                      {GetParam().records[i].second, records.back().strings.at(1)}));
  }
  const std::string message = records.back().strings.at(1);
  EXPECT_TRUE(message.ends_with(messageEnd_)) << message;
  LogPane expected;
  expected.Append(GetParam().reasonOnly ? message : "ошибка: " + message);
  EXPECT_EQ(job_.log.Lines(), expected.Lines());
  EXPECT_EQ(ReadFile(earlier), "earlier");
  // The source document stays whenever the stamping finished.
  const bool stamped = std::none_of(records.begin(), records.end(), [](const auto& record) {
    return record.strings.at(0) == "TFormMain.GetFullSourceName" ||
           record.strings.at(0) == "TFormMain.LoadParamsFromICod";
  });
  EXPECT_EQ(TempFileNames(), stamped ? std::vector<std::string>{"SourceConvert.xml"}
                                     : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PackageJobFailureTest,
    ::testing::Values(
        FailureCase{"missing key file",
                    [](auto&, auto&, auto& key, auto&) { key += ".none"; },
                    {{"ОРХ РФ", "TFormMain.LoadParamsFromICod"}, {"ОРХ РФ", "TFormMain.XmlToCod"}}},
        FailureCase{"XML not well-formed",
                    [](auto& t, auto& xml, auto&, auto&) {
                      xml = t.dir_.Write("bad.xml", "<dataPacket><certificate></dataPacket>");
                    },
                    {{"Форма А", "TFormMain.GetFullSourceName"}, {"ОРХ РФ", "TFormMain.XmlToCod"}}},
        FailureCase{"document not valid",
                    [](auto& t, auto& xml, auto&, auto&) {
                      xml = t.dir_.Write("invalid.xml", "<dataPacket><bogus/></dataPacket>");
                    },
                    {{"ОРХ РФ", "xml не прошел проверку"}},
                    true},
        // The schema check runs beside the stamping; what it finds, and when,
        // must not change which failure is told or how.
        FailureCase{"not valid at the end of a long document",
                    [](auto& t, auto& xml, auto&, auto&) {
                      int line = 0;
                      xml = t.dir_.Write("late.xml", LongDocument("", "<bogus/></dataPacket>", &line));
                      t.messageEnd_ = " (строка " + std::to_string(line) + ")";
                    },
                    {{"ОРХ РФ", "xml не прошел проверку"}},
                    true},
        FailureCase{"not valid at the start, not well-formed at the end",
                    [](auto& t, auto& xml, auto&, auto&) {
                      xml = t.dir_.Write("both.xml", LongDocument("<bogus/>", "<certificate>"));
                    },
                    {{"Форма А", "TFormMain.GetFullSourceName"}, {"ОРХ РФ", "TFormMain.XmlToCod"}}},
        FailureCase{"missing schema",
                    [](auto& t, auto& xml, auto&, auto&) {
                      t.xsd_ += ".none";
                      t.messageEnd_ = ".none\". No such file or directory";
                      xml = t.dir_.Write("long.xml", LongDocument("", "</dataPacket>"));
                    },
                    {{"ОРХ РФ", "TFormMain.XmlToCod"}}},
        FailureCase{"missing schema, not well-formed",
                    [](auto& t, auto& xml, auto&, auto&) {
                      t.xsd_ += ".none";
                      xml = t.dir_.Write("bad.xml", LongDocument("", "<certificate>"));
                    },
                    {{"Форма А", "TFormMain.GetFullSourceName"}, {"ОРХ РФ", "TFormMain.XmlToCod"}}},
        FailureCase{"office key too short",
                    [](auto& t, auto&, auto&, auto&) { t.WriteKeyFile("ABC"); },
                    {{"ОРХ РФ", "TFormMain.XmlToCod"}}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(PackageJobTest, MissingOutputFolderNamesTheFullPath) {
  EXPECT_EQ(Run(dir_ / "none"), JobOutcome::Failed);
  const std::string message = "Cannot create file \"" + (dir_ / "none/") + std::string(kPackageName) +
                              "\". No such file or directory";
  EXPECT_EQ(job_.events.records(), std::vector{ErrorRecord("ОРХ РФ", {"TFormMain.XmlToCod", message})});
  EXPECT_EQ(job_.log.Lines(), std::vector<std::string>{"ошибка: " + message});
  EXPECT_FALSE(fs::exists(dir_ / "none"));
  EXPECT_EQ(TempFileNames(), std::vector<std::string>{"SourceConvert.xml"});
}

// The folder picker's answers, and the operator's Cancel taken while the
// document is checked or packed: nothing is written either way.
TEST_F(PackageJobTest, FolderPickerAnswersAndCancel) {
  job_.context.batchMode = false;
  struct Answer {
    bool chosen;
    std::string folder;
    JobOutcome outcome;
    std::vector<std::string> lines;
    JobStep cancelAt = JobStep::None;
  };
  const std::string cancelled = "Отменено оператором, файл не сформирован";
  for (const Answer& answer :
       {Answer{false, out_, JobOutcome::Cancelled, {}},
        Answer{true, "", JobOutcome::Failed, {"ошибка: Range check error"}},
        Answer{true, out_, JobOutcome::Succeeded, {}},
        Answer{true, out_, JobOutcome::Cancelled, {cancelled}, JobStep::Validation},
        Answer{true, out_, JobOutcome::Cancelled, {cancelled}, JobStep::Packing}}) {
    FakePicker picker(answer.chosen, answer.folder);
    JobProgress progress;
    testing::CancelAtStep runner(progress, answer.cancelAt);
    job_.context.folderPicker = &picker;
    job_.context.progress = &progress;
    job_.context.blockingCalls = &runner;
    job_.events.clear();
    fs::remove(JoinPath(out_, kPackageName));
    EXPECT_EQ(Run("ignored in window mode"), answer.outcome);
    EXPECT_EQ(job_.log.Lines(), answer.lines);
    EXPECT_EQ(job_.events.records().size(), answer.lines.size());
    EXPECT_EQ(job_.context.report.cancelled, answer.cancelAt != JobStep::None);
    EXPECT_EQ(fs::exists(JoinPath(out_, kPackageName)), answer.outcome == JobOutcome::Succeeded);
    EXPECT_EQ(TempFileNames(), std::vector<std::string>{"SourceConvert.xml"});
  }
}

// A package file that cannot be written (here: a folder the job may not write
// to) leaves the earlier file of that name as it was and nothing beside it.
// Root may write anywhere, so the job runs in a child under another user.
TEST_F(PackageJobTest, FailedWriteKeepsTheEarlierPackageFile) {
  const std::string earlier = dir_.Write("out/" + std::string(kPackageName), "earlier");
  // The checkout may be private to its owner (a clone in /root): the child
  // reads its inputs from the scratch folder instead.
  xml_ = dir_.Write("certificates.xml", ReadFile(xml_));
  xsd_ = dir_.Write("FA.xsd", ReadFile(xsd_));
  fs::permissions(out_, fs::perms(0555));
  fs::permissions(tmp_, fs::perms(01777));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    const bool refused = Run(out_) == JobOutcome::Failed && job_.events.records().size() == 1 &&
                         job_.events.records()[0].strings.at(1).rfind("Cannot create file \"", 0) == 0;
    _exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  fs::permissions(out_, fs::perms(0755));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile(earlier), "earlier");
  EXPECT_EQ(std::distance(fs::directory_iterator(out_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace orx
