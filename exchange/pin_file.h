#pragma once
// The PIN of a batch run: the first line of the file that ORX_TOKEN_PIN_FILE
// names. The file must be a regular file of the user's own that no one else
// may read or write; any other is refused and named.
#include <string>
#include <string_view>

#include "support/token_pin.h"

namespace orx {

class PinFileSource final : public TokenPinSource {
 public:
  // The file is looked up and read only when a token asks for its PIN.
  bool GetPin(std::string_view tokenLabel, TokenPin& pin, std::string& problem) override;
};

}  // namespace orx
