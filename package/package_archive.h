#pragma once
// The ZIP archive inside a package file: one entry, deflated unless deflate
// would make it longer, no encryption, external attributes 0, DOS time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/clock.h"

namespace orx {

// The length of content's raw deflate stream as the archive entry gets it.
std::size_t DeflatedSize(std::string_view content);

// Creates (or truncates) the archive at archivePath holding the one entry
// entryName with content, modified at the given local time. The entry is
// deflated at level 6 (general-purpose flags 0, version needed 20), or stored
// (version needed 10) when content is empty or its deflated form
// (DeflatedSize) is longer; an equal length stays deflated. The content is
// deflated once and the archive written in one pass. Throws Error with the
// archive library's message on failure; the library's scratch file beside
// archivePath is gone then.
void WriteSingleEntryZip(const std::string& archivePath, std::string_view entryName,
                         std::string_view content, const LocalDateTime& modified);

}  // namespace orx
