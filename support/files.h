#pragma once
// File helpers (qvFiles). Paths are UTF-8 with "/" as the separator; file
// contents are raw bytes in std::string.
#include <dirent.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/c_handle.h"
#include "support/error.h"
#include "support/unique_fd.h"

namespace orx {

// Error("Cannot open file \"<name>\". <reason>") and Error("Cannot create
// file \"<name>\". <reason>"), the reason being the text of an errno value.
Error CannotOpen(std::string_view name, int number);
Error CannotCreate(std::string_view name, int number);

inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;

// dir + "/" + name, no doubled separator; name alone when dir is empty.
std::string JoinPath(std::string_view dir, std::string_view name);
// The text before the last "/", empty when there is none.
std::string ExtractDir(std::string_view path);
// The folder of the running program, without a trailing "/" ("" for "/" and
// when it cannot be read).
std::string ProgramFolder();
// A folder private to the user, ${TMPDIR:-/tmp}/convertor-orx-<uid>/ (TMPDIR
// only when it names an existing folder), created with mode 0700 on first
// use. An existing one is used only when it is a real folder (not a symbolic
// link) owned by the user with mode 0700 exactly. Throws Error("No private
// temporary folder is available: <the folder and why>") when it cannot be
// had safely.
std::string PrivateTempDir();
// PrivateTempDir(), or empty where it throws. Never throws.
std::string GetTempDir();

struct TSearchRecW {
  std::int32_t DosTime = 0;
  std::int32_t Size = 0;
  std::uint32_t Attributes = 0;
  std::string Name;
  // Private to the search.
  std::uint32_t SkipAttributes = 0;
  CHandle<DIR, closedir> SearchHandle;
  std::string Folder;
  std::string Pattern;
};

// Platform error numbers returned by the search.
inline constexpr int kSearchFileNotFound = 2;
inline constexpr int kSearchPathNotFound = 3;
inline constexpr int kSearchAccessDenied = 5;
inline constexpr int kSearchNoMoreFiles = 18;

// Masks: the last component may hold "*" and "?", compared without regard to
// letter case. Returns 0 when an entry was found, else a platform error number:
// FindFirstW gives 2 when no name matches, 3 when the folder does not exist,
// 5 when it cannot be read, 18 when names match but every one is skipped by
// attr; it leaves no search open unless it returns 0. FindNextW gives 18 when
// the entries run out and leaves the search open for FindCloseW, which may be
// called any number of times.
[[nodiscard]] int FindFirstW(std::string_view mask, std::uint32_t attr, TSearchRecW& rec);
[[nodiscard]] int FindNextW(TSearchRecW& rec);
void FindCloseW(TSearchRecW& rec);
// Case-insensitive wildcard match of one name against one pattern.
bool MatchesMask(std::string_view name, std::string_view pattern);

// Throws Error("Cannot open file \"<name>\". <reason>") or "Stream read error".
std::string FileToString(std::string_view fileName);
// As above, but a file of more than limit bytes throws Error(tooLarge), found
// from a regular file's size before reading and from the bytes read for
// anything else (a device, a pipe), which is read no further.
std::string FileToString(std::string_view fileName, std::size_t limit, std::string_view tooLarge);
// Replaces the file's contents (O_TRUNC; a new file gets mode 0644 less the
// umask). Never writes through a symbolic link: one in the last component is
// refused. Throws Error("Cannot create file \"<name>\". <reason>") or
// "Stream write error".
void StringToFile(std::string_view bytes, std::string_view fileName);

// A uniquely named file, created exclusively (O_EXCL, O_NOFOLLOW, mode 0600)
// in folder with the given prefix and suffix and held open for reading and
// writing; removed by the destructor unless Release() was called. Throws
// Error when it cannot be created.
class TempFile {
 public:
  TempFile(std::string_view folder, std::string_view prefix, std::string_view suffix);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  // The descriptor it was created with, -1 once closed: writing through it
  // leaves no window in which another file could take the name's place.
  int fd() const { return file_.get(); }
  // Closes the descriptor; false when close() reports a delayed write error.
  [[nodiscard]] bool Close() noexcept { return file_.Close(); }
  // Removes the file now (idempotent).
  void Remove() noexcept;
  // The file is kept; the caller owns it.
  std::string Release() noexcept;

 private:
  std::string path_;
  UniqueFd file_;
  bool owned_ = true;
};

// Writes bytes to target atomically: a temporary file beside it, flushed,
// then renamed over it. A target that is a symbolic link of the user's own
// stays a link: the file it leads to is replaced (atomically, beside that
// file). A link of another user is never followed, and a target that is not
// a regular file (a folder, FIFO, device or socket) is never opened: both
// are refused. On failure the target is untouched and nothing is left
// behind; the message has the StringToFile form for target.
void WriteFileAtomically(std::string_view bytes, std::string_view target);

}  // namespace orx
