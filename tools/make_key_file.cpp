// orx-make-keyfile: enciphers a key file's XML into the i.cod an office is
// given, or turns an i.cod (or, with --key, a package file) back into plain
// bytes. Used to set up offices and test benches.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "package/cipher.h"
#include "support/files.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: orx-make-keyfile [--decipher] [--key KEYTEXT] INPUT OUTPUT\n"
    "       orx-make-keyfile --print-iv\n"
    "\n"
    "Enciphers INPUT (the key file's XML) into OUTPUT (the i.cod) with the\n"
    "program's fixed key text. --decipher turns an i.cod back into its XML.\n"
    "--key uses KEYTEXT (at least 32 characters) instead of the fixed key text,\n"
    "e.g. an office key to decipher a package file into its ZIP archive.\n"
    "OUTPUT is written atomically; an existing file is replaced.\n"
    "--print-iv prints the program's fixed initialisation vector in hexadecimal,\n"
    "as `openssl enc -iv` takes it.\n";

int Usage(std::FILE* stream, int status) {
  std::fwrite(kUsage.data(), 1, kUsage.size(), stream);
  return status;
}

int PrintIv() {
  for (const char c : orx::FixedIvText) std::printf("%02x", static_cast<unsigned char>(c));
  std::putchar('\n');
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool decipher = false;
  std::string keyText;
  std::string input;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") return Usage(stdout, 0);
    if (argument == "--print-iv" && argc == 2) return PrintIv();
    if (argument == "--decipher") {
      decipher = true;
    } else if (argument == "--key" && i + 1 < argc) {
      keyText = argv[++i];
    } else if ((!argument.empty() && argument[0] == '-' && argument != "-") || !output.empty()) {
      return Usage(stderr, 2);  // an unknown option, or a third file name
    } else if (input.empty()) {
      input = argument;
    } else {
      output = argument;
    }
  }
  if (input.empty() || output.empty()) return Usage(stderr, 2);

  try {
    std::string bytes = orx::FileToString(input);
    if (decipher) {
      orx::DecryptCodStream(bytes, keyText);
    } else {
      orx::EncryptCodStream(bytes, keyText);
    }
    orx::WriteFileAtomically(bytes, output);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orx-make-keyfile: %s\n", e.what());
    return 1;
  }
  return 0;
}
