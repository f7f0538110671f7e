// Searching a folder for names that match a wildcard pattern.
//
// Entries come in the folder's own listing order (readdir). "." and ".." are
// not entries of the folder and are never returned. Attributes: a regular
// file shows the archive bit, a folder the directory bit, a name beginning
// with "." the hidden bit, an entry the user cannot write the read-only bit;
// anything else (device, socket, FIFO, dangling link) counts as a system
// entry, so a search skips it unless asked for system entries. Symbolic
// links are described by what they point to. Size saturates at INT32_MAX for
// entries of 2 GiB and more, which the field cannot hold.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "support/clock.h"
#include "support/files.h"
#include "support/text.h"

namespace orx {
namespace {

// Code points, folded; invalid UTF-8 bytes become U+FFFD, one per byte.
std::u32string FoldedCodePoints(std::string_view utf8) {
  const std::u16string units = FoldCase(Utf8ToUtf16(utf8));
  std::u32string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    out.push_back(c);
  }
  return out;
}

std::int32_t DosDateTime(std::time_t time) {
  const LocalDateTime local = LocalTimeOf(time);
  const std::uint32_t date = DosDate(local);
  return static_cast<std::int32_t>(date << 16 | DosTime(local));
}

void Describe(DIR* dir, const char* name, TSearchRecW& rec) {
  const int dirFd = ::dirfd(dir);
  struct stat info {};
  const bool known = ::fstatat(dirFd, name, &info, 0) == 0 ||
                     ::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
  std::uint32_t attributes = 0;
  if (known && S_ISREG(info.st_mode)) {
    attributes |= kAttrArchive;
  } else if (known && S_ISDIR(info.st_mode)) {
    attributes |= kAttrDirectory;
  } else {
    attributes |= kAttrSystem;
  }
  if (name[0] == '.') attributes |= kAttrHidden;
  if (::faccessat(dirFd, name, W_OK, AT_EACCESS) != 0) attributes |= kAttrReadOnly;

  rec.Attributes = attributes;
  rec.Name = name;
  rec.Size =
      known ? static_cast<std::int32_t>(info.st_size > INT32_MAX ? INT32_MAX : info.st_size) : 0;
  rec.DosTime = known ? DosDateTime(info.st_mtim.tv_sec) : 0;
}

enum class Scan { Found, NoMatch, Exhausted };

// Moves to the next entry that matches the pattern and is not skipped.
Scan Advance(TSearchRecW& rec) {
  bool anyNameMatched = false;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(rec.SearchHandle.get());
    if (!entry) return anyNameMatched ? Scan::Exhausted : Scan::NoMatch;
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || !MatchesMask(name, rec.Pattern)) continue;
    anyNameMatched = true;
    Describe(rec.SearchHandle.get(), entry->d_name, rec);
    if ((rec.Attributes & rec.SkipAttributes) == 0) return Scan::Found;
  }
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view pattern) {
  const std::u32string text = FoldedCodePoints(name);
  const std::u32string mask = FoldedCodePoints(pattern);
  // Greedy match that backtracks only to the latest "*": linear in practice,
  // never exponential.
  std::size_t t = 0, m = 0;
  std::size_t starMask = std::u32string::npos, starText = 0;
  while (t < text.size()) {
    if (m < mask.size() && (mask[m] == U'?' || mask[m] == text[t])) {
      ++t, ++m;
    } else if (m < mask.size() && mask[m] == U'*') {
      starMask = m++;
      starText = t;
    } else if (starMask != std::u32string::npos) {
      m = starMask + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == U'*') ++m;
  return m == mask.size();
}

int FindFirstW(std::string_view mask, std::uint32_t attr, TSearchRecW& rec) {
  FindCloseW(rec);
  rec.DosTime = 0;
  rec.Size = 0;
  rec.Attributes = 0;
  rec.Name.clear();
  rec.SkipAttributes = (kAttrHidden | kAttrSystem | kAttrVolumeLabel | kAttrDirectory) & ~attr;

  const auto slash = mask.rfind('/');
  if (slash == std::string_view::npos) {
    rec.Folder = ".";
    rec.Pattern = std::string(mask);
  } else {
    rec.Folder = slash == 0 ? "/" : std::string(mask.substr(0, slash));
    rec.Pattern = std::string(mask.substr(slash + 1));
  }

  rec.SearchHandle.reset(::opendir(rec.Folder.c_str()));
  if (!rec.SearchHandle) {
    return errno == EACCES || errno == EPERM ? kSearchAccessDenied : kSearchPathNotFound;
  }
  switch (Advance(rec)) {
    case Scan::Found:
      return 0;
    case Scan::NoMatch:
      FindCloseW(rec);
      return kSearchFileNotFound;
    case Scan::Exhausted:
      break;
  }
  FindCloseW(rec);
  return kSearchNoMoreFiles;
}

int FindNextW(TSearchRecW& rec) {
  if (!rec.SearchHandle) return kSearchNoMoreFiles;
  return Advance(rec) == Scan::Found ? 0 : kSearchNoMoreFiles;
}

void FindCloseW(TSearchRecW& rec) { rec.SearchHandle.reset(); }

}  // namespace orx
