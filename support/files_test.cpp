#include "support/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>

#include "support/error.h"
#include "support/job_folder.h"
#include "testing/test_support.h"

namespace orx {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::ScratchDir;

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(Paths, JoinAndExtractDir) {
  struct Join {
    std::string dir, name, expected;
  } joins[] = {
      {"", "a.xml", "a.xml"},   {"/t/", "a.xml", "/t/a.xml"}, {"/t", "a.xml", "/t/a.xml"},
      {"/", "a.xml", "/a.xml"}, {"t", "/a.xml", "t//a.xml"},  // the name is not examined
  };
  for (const auto& j : joins) EXPECT_EQ(JoinPath(j.dir, j.name), j.expected) << j.dir;

  struct Extract {
    std::string path, expected;
  } extracts[] = {
      {"/a/b.xml", "/a"}, {"/a/", "/a"}, {"b.xml", ""}, {"/b.xml", ""}, {"a/b/c", "a/b"},
  };
  for (const auto& e : extracts) EXPECT_EQ(ExtractDir(e.path), e.expected) << e.path;
}

TEST(MatchesMask, WildcardsAndLetterCase) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"FA_123_45_i.cod", "FA_???_??_i.cod", true},
      {"fa_123_45_I.COD", "FA_???_??_i.cod", true},
      {"FA_12_345_i.cod", "FA_???_??_i.cod", false},
      {"FA_01_01_i.cod", "FA_???_??_i.cod", false},
      {"CT1_001_01_i.cod", "CT_???_??_i.cod", false},
      {"CT_001_01_i.cod", "CT_???_??_i.cod", true},
      {"a.xml", "*", true},
      {"", "*", true},
      {"a.xml", "*.XML", true},
      {"a.xml.bak", "*.xml", false},
      {"abcabd", "*ab?", true},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*c", false},
      {"ОТЧЁТ_Я.cod", "отчёт_?.COD", true},  // Cyrillic folds too; "?" is one letter
      {"ab", "a", false},
      {"a", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesMask(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
  }
}

class FileSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("FA_123_45_i.cod", "k");
    dir_.Write(".FA_999_99_i.cod", "hidden");
    fs::create_directory(dir_.path() / "FA_000_00_i.cod");
  }

  std::vector<std::pair<std::string, std::uint32_t>> Search(const std::string& pattern,
                                                            std::uint32_t attr) {
    std::vector<std::pair<std::string, std::uint32_t>> found;
    TSearchRecW rec;
    for (int r = FindFirstW(dir_ / pattern, attr, rec); r == 0; r = FindNextW(rec)) {
      found.emplace_back(rec.Name, rec.Attributes);
    }
    FindCloseW(rec);
    FindCloseW(rec);
    std::sort(found.begin(), found.end());
    return found;
  }

  ScratchDir dir_;
};

TEST_F(FileSearch, AttributesDecideWhatIsSkipped) {
  const std::uint32_t ro = geteuid() == 0 ? 0 : kAttrReadOnly;  // root may write anything
  fs::permissions(dir_.path() / "FA_123_45_i.cod", fs::perms::owner_read);
  using Found = std::vector<std::pair<std::string, std::uint32_t>>;
  EXPECT_EQ(Search("*_I.COD", 0x3F), (Found{{".FA_999_99_i.cod", kAttrArchive | kAttrHidden},
                                            {"FA_000_00_i.cod", kAttrDirectory},
                                            {"FA_123_45_i.cod", kAttrArchive | ro}}));
  EXPECT_EQ(Search("*_i.cod", 0), (Found{{"FA_123_45_i.cod", kAttrArchive | ro}}));
  EXPECT_EQ(Search("*", kAttrDirectory),
            (Found{{"FA_000_00_i.cod", kAttrDirectory}, {"FA_123_45_i.cod", kAttrArchive | ro}}));
}

TEST_F(FileSearch, ResultCodesWhenNothingIsReturned) {
  struct Case {
    std::string mask;
    std::uint32_t attr;
    int expected;
  } cases[] = {
      {dir_ / "CT_???_??_i.cod", 0x3F, kSearchFileNotFound},
      {dir_ / "", 0x3F, kSearchFileNotFound},
      {dir_ / "missing/*", 0x3F, kSearchPathNotFound},
      {dir_ / "FA_123_45_i.cod/*", 0x3F, kSearchPathNotFound},
      {dir_ / ".FA_999_99_i.cod", 0, kSearchNoMoreFiles},  // matched, but hidden
  };
  for (const auto& c : cases) {
    TSearchRecW rec;
    EXPECT_EQ(FindFirstW(c.mask, c.attr, rec), c.expected) << c.mask;
    EXPECT_FALSE(rec.SearchHandle) << c.mask;
    FindCloseW(rec);
  }
}

TEST_F(FileSearch, FillsSizeAndDosTimeAndEndsWith18) {
  dir_.Write("data.bin", std::string(1234, 'x'));
  std::tm local{};
  local.tm_year = 2024 - 1900, local.tm_mon = 2, local.tm_mday = 15;
  local.tm_hour = 13, local.tm_min = 47, local.tm_sec = 31, local.tm_isdst = -1;
  const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "data.bin").c_str(), times, 0), 0);

  TSearchRecW rec;
  ASSERT_EQ(FindFirstW(dir_ / "DATA.*", 0, rec), 0);
  EXPECT_EQ(rec.Name, "data.bin");
  EXPECT_EQ(rec.Size, 1234);
  EXPECT_EQ(static_cast<std::uint32_t>(rec.DosTime),
            ((2024u - 1980) << 9 | 3 << 5 | 15) << 16 | (13u << 11 | 47 << 5 | 15));
  EXPECT_EQ(FindNextW(rec), kSearchNoMoreFiles);
  EXPECT_TRUE(rec.SearchHandle);  // left open for FindCloseW
  FindCloseW(rec);
  EXPECT_FALSE(rec.SearchHandle);
}

TEST(WholeFiles, BytesGoInAndOutUnchanged) {
  ScratchDir dir;
  const std::string path = dir.Write("out.xml", "a much longer earlier content");
  const std::string cases[] = {"new", "", "\xEF\xBB\xBF<a/>\r\n", std::string("\0\x01\xff", 3),
                               std::string(200000, 'q')};
  for (const auto& bytes : cases) {
    StringToFile(bytes, path);
    EXPECT_EQ(ReadFile(path), bytes);
    EXPECT_EQ(FileToString(path), bytes);
  }
}

// Text set into a document ends at its first zero byte, so reading stops
// there; a stream that never ends stops at its limit.
TEST(WholeFiles, TextEndsAtItsFirstZeroAndAStreamAtItsLimit) {
  ScratchDir dir;
  EXPECT_EQ(TextFileToString(dir.Write("t.xml", std::string("<a/>\0rest", 9)), 2, "big"), "<a/>");
  EXPECT_EQ(TextFileToString("/dev/zero", 2, "big"), "");
  testing::Pipe pipe;
  ASSERT_TRUE(WriteAll(pipe.end[1].get(), std::string(4096, 'x')));
  ASSERT_TRUE(pipe.end[1].Close());
  EXPECT_EQ(MessageOf([&] {
              TextFileToString("/proc/self/fd/" + std::to_string(pipe.end[0].get()), 1000, "big");
            }),
            "big");
}

TEST(WholeFiles, FailuresNameTheFileAndReason) {
  ScratchDir dir;
  const std::string victim = dir.Write("victim", "keep");
  const std::string link = dir / "link", missing = dir / "no/such", folder = dir.path();
  fs::create_symlink(victim, link);
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { FileToString(missing); },
       "Cannot open file \"" + missing + "\". No such file or directory"},
      {[&] { FileToString(folder); }, "Cannot open file \"" + folder + "\". Is a directory"},
      {[&] { StringToFile("x", missing); },
       "Cannot create file \"" + missing + "\". No such file or directory"},
      {[&] { StringToFile("evil", link); },
       "Cannot create file \"" + link + "\". Too many levels of symbolic links"},
  };
  for (const auto& [action, message] : cases) EXPECT_EQ(MessageOf(action), message);
  EXPECT_EQ(ReadFile(victim), "keep");
}

TEST(GetTempDir, MakesAPrivateFolderAndRefusesOneNotPrivatelyOurs) {
  const std::string name = "convertor-orx-" + std::to_string(geteuid());
  {
    ScratchDir base;
    ScopedEnv tmpdir("TMPDIR", base.path().c_str());
    EXPECT_EQ(GetTempDir(), base / name + "/");
    EXPECT_EQ(GetTempDir(), base / name + "/");  // an existing folder of ours is reused
    EXPECT_EQ(fs::status(base / name).permissions(), fs::perms::owner_all);
  }
  struct Refused {
    const char* what;
    std::function<void(const std::string&)> make;
    std::string why;
  } refused[] = {
      {"symlink to our folder",
       [](const std::string& path) {
         ::mkdir((path + ".real").c_str(), 0700);
         fs::create_symlink(path + ".real", path);
       },
       "- символическая ссылка"},
      {"readable by others", [](const std::string& path) { ::mkdir(path.c_str(), 0755); },
       "имеет права 0755, а не 0700"},
      {"a plain file", [](const std::string& path) { StringToFile("", path); }, "- не каталог"},
      {"another user's",
       [](const std::string& path) {
         ::mkdir(path.c_str(), 0700);
         (void)::chown(path.c_str(), geteuid() + 1, static_cast<gid_t>(-1));  // root only
       },
       "принадлежит другому пользователю (uid " + std::to_string(geteuid() + 1) + ")"},
  };
  for (const auto& [what, make, why] : refused) {
    ScratchDir base;
    ScopedEnv tmpdir("TMPDIR", base.path().c_str());
    make(base / name);
    struct stat info {};
    ::lstat((base / name).c_str(), &info);
    if (what == std::string("another user's") && info.st_uid == geteuid()) continue;
    EXPECT_EQ(GetTempDir(), "") << what;
    EXPECT_EQ(MessageOf([] { PrivateTempDir(); }),
              "Нет личного каталога для временных файлов: \"" + base / name + "\" " + why +
                  "; укажите в переменной TMPDIR свой каталог для временных файлов");
  }
}

TEST(TempFile, ExclusiveUniqueAndRemovedUnlessReleased) {
  ScratchDir dir;
  std::string kept;
  {
    TempFile a(dir.path().string(), "pre", ".zip");
    TempFile b(dir.path().string(), "pre", ".zip");
    EXPECT_NE(a.path(), b.path());
    EXPECT_EQ(ExtractDir(a.path()), dir.path().string());
    const std::string name = a.path().substr(a.path().rfind('/') + 1);
    EXPECT_TRUE(MatchesMask(name, "pre??????.zip")) << name;
    struct stat info {};
    ASSERT_EQ(::lstat(a.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_TRUE(WriteAll(b.fd(), "kept") && b.Close());
    kept = b.Release();
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path())) left.push_back(entry.path());
  EXPECT_EQ(left, std::vector<std::string>{kept});
  EXPECT_EQ(FileToString(kept), "kept");
  EXPECT_THROW(TempFile(dir / "missing", "p", ""), Error);
}

TEST(WriteFileAtomically, ReplacesTargetOrLeavesItUntouched) {
  ScratchDir dir;
  const std::string target = dir / "pkg.cod";
  const mode_t umask = ::umask(022);
  ::umask(umask);
  WriteFileAtomically("first", target);  // a new file gets StringToFile's mode
  EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(0644 & ~umask));
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  WriteFileAtomically("new", target);  // an existing one keeps its own
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  // A secret is its owner's alone, new or replaced, whatever the umask.
  const std::string secret = dir / "i.cod";
  for (const mode_t mask : {mode_t{0}, mode_t{022}}) {
    ::umask(mask);
    WriteFileAtomically("key", secret, FileAccess::OwnerOnly);
    EXPECT_EQ(fs::status(secret).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(secret, fs::perms::all);
  }
  ::umask(umask);
  fs::remove(secret);

  struct Case {
    std::string target;
    std::string message;
  } failures[] = {
      {dir / "missing/pkg.cod",
       "Cannot create file \"" + dir / "missing/pkg.cod" + "\". No such file or directory"},
      {target + "/pkg.cod", "Cannot create file \"" + target + "/pkg.cod\". Not a directory"},
      {dir.path().string(), "Cannot create file \"" + dir.path().string() + "\". Is a directory"},
      // Never opened, so a FIFO nobody reads cannot block the write.
      {dir / "fifo", "Cannot create file \"" + dir / "fifo" + "\". Это не обычный файл"},
      {"/dev/null", "Cannot create file \"/dev/null\". Это не обычный файл"},
      {dir / "link-to-fifo",
       "Cannot create file \"" + dir / "link-to-fifo" + "\". Это не обычный файл"},
  };
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_symlink("fifo", dir / "link-to-fifo");
  for (const auto& f : failures) {
    EXPECT_EQ(MessageOf([&] { WriteFileAtomically("x", f.target); }), f.message);
  }
  EXPECT_EQ(ReadFile(target), "new");
  fs::remove(dir / "fifo");
  fs::remove(dir / "link-to-fifo");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path())) left.push_back(entry.path());
  EXPECT_EQ(left, std::vector<std::string>{target});
}

// A link of the user's own stays a link and its file gets the content,
// written beside that file; a link of another user is refused untouched.
TEST(WriteFileAtomically, FollowsOnlyTheUsersOwnLinks) {
  ScratchDir dir;
  const std::string real = dir.Write("repo/ConvertorOrx.xml", "old");
  fs::create_directory(dir.path() / "config");
  fs::create_symlink("../repo/ConvertorOrx.xml", dir.path() / "config/ConvertorOrx.xml");
  fs::create_symlink(dir.path() / "config/ConvertorOrx.xml", dir.path() / "chained.xml");
  for (const char* link : {"config/ConvertorOrx.xml", "chained.xml"}) {
    WriteFileAtomically(link, dir / link);
    EXPECT_TRUE(fs::is_symlink(dir.path() / link)) << link;
    EXPECT_EQ(ReadFile(real), link);
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) left.push_back(entry.path());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{dir / "chained.xml", dir / "config",
                                            dir / "config/ConvertorOrx.xml", dir / "repo",
                                            real}));

  fs::create_symlink(real, dir.path() / "planted.cod");
  if (::lchown((dir / "planted.cod").c_str(), geteuid() + 1, static_cast<gid_t>(-1)) != 0) {
    GTEST_SKIP() << "links of another user need root";
  }
  EXPECT_EQ(MessageOf([&] { WriteFileAtomically("redirected", dir / "planted.cod"); }),
            "Cannot create file \"" + dir / "planted.cod" +
                "\". Символическая ссылка другого пользователя (uid " +
                std::to_string(geteuid() + 1) + ") не используется: \"" + dir / "planted.cod" +
                "\"");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "planted.cod"));
  EXPECT_EQ(ReadFile(real), "chained.xml");
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs step in a child, which must end with ::_exit: no destructor runs
// then, as when a job is killed.
void InKilledJob(const std::function<void()>& step) {
  const pid_t killed = ::fork();
  ASSERT_GE(killed, 0);
  if (killed == 0) step();
  ::waitpid(killed, nullptr, 0);
}

// A writer killed between writing and renaming leaves its temporary beside
// the target; the next writer to that folder removes it, but never one that
// a living writer holds, nor anything of the user's that merely looks alike.
TEST(WriteFileAtomically, KilledWritersTemporariesGoLiveOnesStay) {
  ScratchDir dir;
  const std::string target = dir / "FA_007_01_2024.03.05_x.zip.cod";
  InKilledJob([&] {
    AtomicFileWriter writer(target);
    writer.Write("a whole package");
    ::_exit(0);
  });
  ASSERT_EQ(Names(dir.path()).size(), 1u);
  const std::string abandoned = Names(dir.path())[0];
  EXPECT_TRUE(MatchesMask(abandoned, ".orx-??????.tmp")) << abandoned;
  dir.Write(".orx-notone.tmp.keep", "mine");
  std::optional<AtomicFileWriter> live(std::in_place, dir / "other.cod");
  live->Write("being written");
  const std::vector<std::string> swept = Names(dir.path());
  ASSERT_EQ(swept.size(), 2u);
  EXPECT_TRUE(swept[0] != abandoned && swept[1] != abandoned);

  WriteFileAtomically("next", target);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{swept[0], swept[1],
                                                         "FA_007_01_2024.03.05_x.zip.cod"}));
  live->Commit();
  live.reset();
  EXPECT_EQ(Names(dir.path()),
            (std::vector<std::string>{".orx-notone.tmp.keep", "FA_007_01_2024.03.05_x.zip.cod",
                                      "other.cod"}));
  EXPECT_EQ(ReadFile(dir / "other.cod"), "being written");
}

// A job's folder is private to it; when the job ends only its kept files stay.
// A job killed part-way leaves its folder, which the next job removes; a
// living job's folder is never touched.
TEST(JobFolder, KilledJobsFoldersGoLiveOnesStay) {
  ScratchDir base;
  ScopedEnv tmpdir("TMPDIR", base.path().c_str());
  const std::string temp = PrivateTempDir();
  InKilledJob([] {
    JobFolder folder;
    StringToFile("partial", folder.Path() + "orx000000.zip");
    ::_exit(0);
  });
  // What an earlier version left when killed before it took its lock.
  ASSERT_EQ(::mkdir((temp + ".job-1-AbCdEf").c_str(), 0700), 0);
  ASSERT_EQ(Names(temp).size(), 2u);

  std::optional<JobFolder> live(std::in_place);
  const std::string livePath = live->Path();
  StringToFile("scratch", livePath + "orx111111.zip");
  StringToFile("kept", livePath + "SourceConvert.xml");
  live->Keep("SourceConvert.xml");
  EXPECT_EQ(fs::status(livePath).permissions(), fs::perms::owner_all);
  {
    JobFolder next;
    const std::string own = next.Path();
    std::vector<std::string> expected = {ExtractDir(livePath).substr(temp.size()),
                                         ExtractDir(own).substr(temp.size())};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(temp), expected);
    EXPECT_EQ(Names(livePath), (std::vector<std::string>{"SourceConvert.xml", "orx111111.zip"}));
  }
  EXPECT_EQ(Names(temp), std::vector<std::string>{ExtractDir(livePath).substr(temp.size())});
  live.reset();
  EXPECT_EQ(Names(temp), std::vector<std::string>{"SourceConvert.xml"});
  EXPECT_EQ(ReadFile(temp + "SourceConvert.xml"), "kept");
}

}  // namespace
}  // namespace orx
