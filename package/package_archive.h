#pragma once
// The ZIP archive inside a package file: one entry, deflated unless deflate
// would make it longer, no encryption, external attributes 0, DOS time.
#include <cstdint>
#include <string>
#include <string_view>

#include "support/clock.h"

namespace orx {

// Size of the raw deflate stream the archive writer produces for content at
// level 6 with its parameters; counting stops early once it passes limit.
std::uint64_t DeflatedSize(std::string_view content, std::uint64_t limit);

// True when the entry is to be stored: content is empty, or its deflated form
// would be longer than itself (an equal length stays deflated).
bool ShouldStore(std::string_view content);

// The MS-DOS time and date words of a local time (years before 1980 give
// 1980-01-01 00:00, after 2107 the end of 2107; seconds round down to even).
std::uint16_t DosTime(const LocalDateTime& time);
std::uint16_t DosDate(const LocalDateTime& time);

// Creates (or truncates) the archive at archivePath holding the one entry
// entryName with content, modified at the given local time. Throws Error with
// the archive library's message on failure; the archive library's scratch
// file beside archivePath is gone then.
void WriteSingleEntryZip(const std::string& archivePath, std::string_view entryName,
                         std::string_view content, const LocalDateTime& modified);

}  // namespace orx
