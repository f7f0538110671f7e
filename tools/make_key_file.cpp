// orx-make-keyfile: enciphers a key file's XML into the i.cod an office is
// given, or turns an i.cod (or, with --key-file, a package file) back into plain
// bytes. Used to set up offices and test benches.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "package/cipher.h"
#include "support/error.h"
#include "support/files.h"
#include "support/unique_fd.h"
#include "support/version.h"

namespace {

constexpr std::string_view kUsage =
    "Использование:\n"
    "  orx-make-keyfile [--decipher] [--key-file КЛЮЧ] ВХОДНОЙ ВЫХОДНОЙ\n"
    "  orx-make-keyfile --print-iv\n"
    "  orx-make-keyfile --version\n"
    "\n"
    "Шифрует ВХОДНОЙ (XML ключевого файла) в ВЫХОДНОЙ (i.cod) постоянным\n"
    "ключом программы. --decipher расшифровывает i.cod обратно в XML.\n"
    "--key-file берёт вместо постоянного ключа текст ключа из файла КЛЮЧ\n"
    "(\"-\" - стандартный ввод; не короче 32 символов, один конец строки в конце\n"
    "отбрасывается), например ключ отделения, чтобы расшифровать файл пакета в\n"
    "его ZIP-архив. Ключ никогда не берётся из командной строки, где список\n"
    "процессов показывает его всем пользователям.\n"
    "ВЫХОДНОЙ записывается целиком или никак и доступен только владельцу\n"
    "(права 0600); прежний файл заменяется (через символьную ссылку только самого\n"
    "пользователя); всё, что не обычный файл, отвергается.\n"
    "ВЫХОДНОЙ \"-\" - запись в стандартный вывод.\n"
    "--print-iv выводит постоянный вектор инициализации программы в\n"
    "шестнадцатеричном виде, как его принимает `openssl enc -iv`.\n";

int Usage(std::FILE* stream, int status) {
  std::fwrite(kUsage.data(), 1, kUsage.size(), stream);
  return status;
}

int PrintIv() {
  for (const char c : orx::FixedIvText) std::printf("%02x", static_cast<unsigned char>(c));
  std::putchar('\n');
  return 0;
}

// The key text of a key file or of standard input. Bounded: a key is a line
// of text, and a mistaken file name must not read a disk image into memory.
std::string ReadKeyText(const std::string& path) {
  constexpr std::size_t kLimit = 64 * 1024;
  constexpr const char* kTooLong = "Текст ключа длиннее 64 КиБ";
  std::string text;
  if (path == "-") {
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
      text.append(buffer, got);
      if (text.size() > kLimit) throw orx::Error(kTooLong);
    }
    if (std::ferror(stdin)) {
      throw orx::Error("Не удалось прочитать текст ключа со стандартного ввода");
    }
  } else {
    text = orx::FileToString(path);
    if (text.size() > kLimit) throw orx::Error(kTooLong);
  }
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  bool decipher = false;
  std::string keyFile;
  std::string input;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") return Usage(stdout, 0);
    if (argument == "--print-iv" && argc == 2) return PrintIv();
    if (argument == "--version" && argc == 2) {
      std::puts(orx::kVersionText);
      return 0;
    }
    if (argument == "--decipher") {
      decipher = true;
    } else if (argument == "--key-file" && i + 1 < argc) {
      keyFile = argv[++i];
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
    const std::string keyText = keyFile.empty() ? std::string() : ReadKeyText(keyFile);
    if (!keyFile.empty() && keyText.empty()) throw orx::Error("В файле ключа нет текста ключа");
    std::string bytes = orx::FileToString(input);
    if (decipher) {
      orx::DecryptCodStream(bytes, keyText);
    } else {
      orx::EncryptCodStream(bytes, keyText);
    }
    if (output == "-") {
      if (!orx::WriteAll(STDOUT_FILENO, bytes)) throw orx::Error("Stream write error");
    } else {
      // A key file, a key file's XML and a deciphered package are secrets.
      orx::WriteFileAtomically(bytes, output, orx::FileAccess::OwnerOnly);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orx-make-keyfile: %s\n", orx::FailureText(e).c_str());
    return 1;
  }
  return 0;
}
