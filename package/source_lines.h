#pragma once
// Where the operator's own certificate XML had each start and end tag, so
// that a problem the validator finds in the stamped copy (which keeps few of
// the input's line breaks) can name the line of the operator's file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orx {

class SourceLineMap {
 public:
  // Records the line (1-based) of the operator's file at the next start or
  // end tag, in document order.
  void Add(std::uint32_t line);
  // Tags were met that the stamped copy holds but no event announced
  // (elements copied from an entity used twice): the order no longer lines
  // up, so no line is given.
  void MarkInexact() { exact_ = false; }

  std::uint64_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  // The operator's line for the stamped copy's tag number index (0-based, in
  // document order, start and end tags counted alike). The copy has two tags
  // more, the start and end of "arm" right after the root's start tag; they
  // and the root's start tag give the line of the root's start tag. An index
  // past the last tag gives the last tag's line. Nothing when the map is
  // empty or inexact.
  std::optional<std::uint32_t> LineOfStampedTag(std::uint64_t index) const;

 private:
  static constexpr std::uint64_t kCheckpointEvery = 1024;
  struct Checkpoint {
    std::size_t offset;  // into deltas_
    std::uint32_t line;  // line of the tag at this checkpoint
  };

  std::uint32_t LineOf(std::uint64_t index) const;

  // One byte for most tags: the change of line from the previous tag,
  // zigzag varint, with a checkpoint every kCheckpointEvery tags.
  std::string deltas_;
  std::vector<Checkpoint> checkpoints_;
  std::uint64_t count_ = 0;
  std::uint32_t last_ = 0;
  bool exact_ = true;
};

}  // namespace orx
