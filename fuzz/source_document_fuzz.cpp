// Certificate XML loading and stamping on hostile input: the stamped source
// document is written or the failure is recorded once, and a written one
// always keeps its namespace declaration for packing to remove.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "package/source_document.h"
#include "support/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const orx::fuzz::ScratchFile file;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  orx::fuzz::FuzzJob job;
  const auto& events = job.events;
  try {
    orx::JobFolder folder;
    const std::string source = orx::GetFullSourceName(job.context, folder, file.Write(bytes));
    const std::string packed = orx::GetSourceForPacking(source);
    constexpr std::string_view kDeclaration = "xmlns=\"urn:orx-rf:certificates\"";
    if (packed.find(kDeclaration) != std::string::npos &&
        bytes.find(kDeclaration) == std::string::npos) {
      __builtin_trap();  // the declaration we added was not the one removed
    }
  } catch (const orx::Error&) {
    if (events.records().size() != 1) __builtin_trap();
    if (events.records()[0].strings.at(0) != "TFormMain.GetFullSourceName") __builtin_trap();
  }
  return 0;
}
