// The key file reader on hostile input: the first byte chooses whether the
// rest is the file's raw bytes or the XML inside it (enciphered here first, so
// the reader gets past the cipher into the layouts).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "package/cipher.h"
#include "package/key_file.h"
#include "support/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orx::fuzz::ScratchFile file;
  if (size == 0) return 0;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) orx::EncryptCodStream(bytes, "");

  orx::fuzz::FuzzJob job;
  const auto& events = job.events;
  auto& params = job.params;
  try {
    orx::LoadParamsFromICod(job.context, file.Write(bytes));
    // A key file that loads has a known kind.
    if (params.kind == orx::DocumentKind::Unknown) __builtin_trap();
  } catch (const orx::Error&) {
    // Refusals must be recorded once, under the reader's own name.
    if (events.records().size() != 1) __builtin_trap();
    if (events.records()[0].strings.at(0) != "TFormMain.LoadParamsFromICod") __builtin_trap();
  }
  return 0;
}
