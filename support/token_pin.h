#pragma once
// A token's PIN, and where a job gets one. The PIN lives in a fixed buffer of
// its own, never in a growing string that could leave copies behind, and is
// wiped when it goes.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace orx {

class TokenPin {
 public:
  // The PKCS#11 engine takes PINs of 4 to 32 characters.
  static constexpr std::size_t kMaxLength = 32;

  TokenPin() = default;
  ~TokenPin() { Clear(); }
  TokenPin(const TokenPin&) = delete;
  TokenPin& operator=(const TokenPin&) = delete;

  // False, leaving the PIN empty, when `text` is longer than kMaxLength.
  bool Assign(std::string_view text);
  void Clear();
  std::string_view view() const { return {text_.data(), size_}; }
  bool empty() const { return size_ == 0; }

 private:
  std::array<char, kMaxLength + 1> text_{};
  std::size_t size_ = 0;
};

// Marks the process as one whose memory must not land in a core dump, nor be
// read by a debugger of the same user: done before a PIN enters the process
// and kept to its end, because the token library keeps copies of its own.
void KeepSecretsOutOfCoreDumps();

class TokenPinSource {
 public:
  virtual ~TokenPinSource() = default;
  // Fills `pin` for the token labelled `tokenLabel`. False when there is
  // none to give (no PIN file, a file anyone else may read, a dialog
  // cancelled), with `problem` telling the operator why, in Russian; the
  // caller names the token.
  virtual bool GetPin(std::string_view tokenLabel, TokenPin& pin, std::string& problem) = 0;
};

}  // namespace orx
