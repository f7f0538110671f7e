#include "package/source_lines.h"

#include <algorithm>

namespace orx {
namespace {

// The stamped copy's own tags right after the root's start tag.
constexpr std::uint64_t kStampedExtraTags = 2;

}  // namespace

void SourceLineMap::Add(std::uint32_t line) {
  if (count_ % kCheckpointEvery == 0) {
    checkpoints_.push_back({deltas_.size(), line});
  } else {
    const std::int64_t delta = static_cast<std::int64_t>(line) - static_cast<std::int64_t>(last_);
    auto zigzag = static_cast<std::uint64_t>(delta < 0 ? ((-delta) << 1) - 1 : delta << 1);
    while (zigzag >= 0x80) {
      deltas_ += static_cast<char>((zigzag & 0x7F) | 0x80);
      zigzag >>= 7;
    }
    deltas_ += static_cast<char>(zigzag);
  }
  last_ = line;
  ++count_;
}

std::uint32_t SourceLineMap::LineOf(std::uint64_t index) const {
  const Checkpoint& checkpoint = checkpoints_[index / kCheckpointEvery];
  std::int64_t line = checkpoint.line;
  std::size_t at = checkpoint.offset;
  for (std::uint64_t n = index % kCheckpointEvery; n > 0; --n) {
    std::uint64_t zigzag = 0;
    for (int shift = 0;; shift += 7) {
      const auto byte = static_cast<unsigned char>(deltas_[at++]);
      zigzag |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) break;
    }
    const auto magnitude = static_cast<std::int64_t>(zigzag >> 1);
    line += (zigzag & 1) != 0 ? -magnitude - 1 : magnitude;
  }
  return static_cast<std::uint32_t>(line);
}

std::optional<std::uint32_t> SourceLineMap::LineOfStampedTag(std::uint64_t index) const {
  if (!exact_ || count_ == 0) return std::nullopt;
  const std::uint64_t own = index <= kStampedExtraTags ? 0 : index - kStampedExtraTags;
  return LineOf(std::min(own, count_ - 1));
}

}  // namespace orx
