#include "exchange/pin_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

#include "support/event_log.h"
#include "support/unique_fd.h"

namespace orx {
namespace {

// Wiped on every way out, whatever it held.
struct LineBuffer {
  std::array<char, 256> bytes{};
  ~LineBuffer() { ::explicit_bzero(bytes.data(), bytes.size()); }
};

}  // namespace

bool PinFileSource::GetPin(std::string_view, TokenPin& pin, std::string& problem) {
  pin.Clear();
  const char* named = std::getenv("ORX_TOKEN_PIN_FILE");
  if (!named || !*named) {
    problem = "укажите файл с ним в переменной ORX_TOKEN_PIN_FILE";
    return false;
  }
  const std::string path = named;
  const std::string file = "файл PIN-кода " + path;
  // Not blocking on a FIFO or a device that someone put in its place.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) {
    problem = file + " не открывается (" + CLibraryErrorText(static_cast<std::uint32_t>(errno)) + ")";
    return false;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    problem = file + " не является обычным файлом";
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    problem = file + " принадлежит другому пользователю";
    return false;
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    problem = file + " доступен другим пользователям: оставьте доступ только себе (chmod 600)";
    return false;
  }

  LineBuffer buffer;
  std::size_t size = 0;
  while (size < buffer.bytes.size()) {
    const ssize_t n = ::read(fd.get(), buffer.bytes.data() + size, buffer.bytes.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problem = file + " не читается (" + CLibraryErrorText(static_cast<std::uint32_t>(errno)) + ")";
      return false;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
    if (std::string_view(buffer.bytes.data(), size).find('\n') != std::string_view::npos) break;
  }
  std::string_view line(buffer.bytes.data(), size);
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) {
    problem = "в первой строке файла PIN-кода " + path + " нет PIN-кода";
    return false;
  }
  if (!pin.Assign(line)) {
    problem = "PIN-код в файле " + path + " длиннее " + std::to_string(TokenPin::kMaxLength) +
              " знаков";
    return false;
  }
  return true;
}

}  // namespace orx
