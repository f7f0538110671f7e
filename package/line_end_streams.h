#pragma once
// Line ends on the way into and out of the XML layer: the parser gets the
// input as the XML layer's ParseText sees it, the written document gets CR LF.
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

#include "support/error.h"

namespace orx {

class TextRelay;

// The input as text set into a document: cut at the first zero byte, every
// line end (CR, LF or CR LF) made CR LF. Hands the parser pieces on demand;
// bytes must outlive the object.
class NormalisedInput {
 public:
  explicit NormalisedInput(std::string_view bytes) : rest_(bytes) {}

  // libxml2 input callbacks; ctx is the NormalisedInput.
  static int Read(void* self, char* buffer, int length);
  static int Close(void*) { return 0; }

  // The whole normalised text at once (for error messages).
  static std::string All(std::string_view bytes);

 private:
  int Fill(char* buffer, int length);

  std::string_view rest_;
  bool pendingLf_ = false;
};

// Serialised bytes to a file descriptor (not owned), appended to a string,
// or only to the relay CopyTo names, with every LF made CR LF. libxml2 never writes a raw CR (it writes &#13;), and 0x0A is never
// part of a multi-byte character in the encodings written, so every LF is a
// line end. Write and Flush throw the file layer's StreamWriteError for the
// file and the system's reason, or what the copy or the memory throws.
class CrLfWriter {
 public:
  // name: the file the operator knows the bytes as, for messages.
  CrLfWriter(int fd, std::string name);
  explicit CrLfWriter(std::string& text);
  // Writes nowhere but to the relay CopyTo names.
  CrLfWriter();

  // libxml2 output callback; ctx is the CrLfWriter. Never throws: -1 and
  // failed() on a failure, which RethrowFailure() then throws.
  static int Callback(void* self, const char* data, int length) noexcept;

  void Write(std::string_view bytes);
  void Flush();
  // Every piece written from now on is also handed to relay (not owned);
  // a relay of a writer to a file reads the file behind it.
  void CopyTo(TextRelay* relay);
  bool failed() const { return failed_; }
  // Throws what made a callback fail (a write error, exhausted memory).
  [[noreturn]] void RethrowFailure() const;

 private:
  static constexpr std::size_t kCapacity = 256 * 1024;
  int fd_ = -1;
  std::string name_;
  std::exception_ptr failure_;
  std::string* text_ = nullptr;
  TextRelay* copy_ = nullptr;
  std::string buffer_;
  bool failed_ = false;
};

}  // namespace orx
