#include "support/token_pin.h"

#include <string.h>
#include <sys/prctl.h>

namespace orx {

bool TokenPin::Assign(std::string_view text) {
  Clear();
  if (text.size() > kMaxLength) return false;
  text.copy(text_.data(), text.size());
  size_ = text.size();
  return true;
}

void TokenPin::Clear() {
  ::explicit_bzero(text_.data(), text_.size());
  size_ = 0;
}

void KeepSecretsOutOfCoreDumps() { ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }

}  // namespace orx
