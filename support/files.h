#pragma once
// File helpers (qvFiles). Paths are UTF-8 with "/" as the separator; file
// contents are raw bytes in std::string.
#include <dirent.h>
#include <sys/types.h>

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
// file \"<name>\". <reason>"), the reason being the text of an errno value;
// likewise Error("Stream read error, file \"<name>\". <reason>") and
// Error("Stream write error, file \"<name>\". <reason>").
Error CannotOpen(std::string_view name, int number);
Error CannotCreate(std::string_view name, int number);
Error StreamReadError(std::string_view name, int number);
Error StreamWriteError(std::string_view name, int number);

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
// link) owned by the user with mode 0700 exactly. Throws Error("Нет личного
// каталога для временных файлов: <the folder and why>; <TMPDIR as the way
// out>") when it cannot be had safely.
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

// Throws the CannotOpen or StreamReadError message.
std::string FileToString(std::string_view fileName);
// As above, but a file of more than limit bytes throws Error(tooLarge), found
// from a regular file's size before reading and from the bytes read for
// anything else (a device, a pipe), which is read no further.
std::string FileToString(std::string_view fileName, std::size_t limit, std::string_view tooLarge);
// Text that ends at its first zero byte (a document set as text): the bytes
// before it, reading no further, so that a device of endless zeros gives
// its (empty) text at once. A regular file is read to that point whatever
// its size; anything else (a device, a pipe that never ends) throws
// Error(tooLarge) past streamLimit bytes.
std::string TextFileToString(std::string_view fileName, std::size_t streamLimit,
                             std::string_view tooLarge);
// Replaces the file's contents (O_TRUNC; a new file gets mode 0644 less the
// umask). Never writes through a symbolic link: one in the last component is
// refused. Throws the CannotCreate or StreamWriteError message.
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

// Who may read a file written: as the umask allows (an existing file keeps
// its mode), or its owner alone whatever the umask, for secrets.
enum class FileAccess { Usual, OwnerOnly };

// The file a write to target replaces: target itself, or where the user's
// own symbolic links lead from it. A link of another user is never followed
// (one planted in a shared folder must not redirect the write), and anything
// but a regular file (or no file) is refused without being opened; the
// message has the CannotCreate form for target.
std::string ReplacedFile(std::string_view target);

// Writes a file atomically, in pieces: a temporary file ".orx-XXXXXX.tmp"
// beside it, flushed, then renamed over it. The temporary is locked (flock)
// for as long as it is written, and every writer first removes the
// temporaries in its folder that no one holds, so that a job killed
// part-way leaves nothing behind for long. A target that is a symbolic link
// of the user's own stays a link: the file it leads to is replaced
// (atomically, beside that file); other targets are refused as ReplacedFile
// refuses them. Until Commit() the target is untouched; the temporary goes
// with the object unless committed. Failures throw the CannotCreate or
// StreamWriteError message for target.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string_view target, FileAccess access = FileAccess::Usual);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  void Write(std::string_view bytes);
  void Commit();

 private:
  std::string target_;
  std::string file_;
  std::string folder_;
  std::string tempPath_;
  UniqueFd output_;
  mode_t mode_ = 0;
  bool committed_ = false;
};

// The whole of bytes written to target by an AtomicFileWriter.
void WriteFileAtomically(std::string_view bytes, std::string_view target,
                         FileAccess access = FileAccess::Usual);

}  // namespace orx
