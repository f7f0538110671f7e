#pragma once
// The program's failure model: helpers raise an Error carrying the message
// text an operator sees; each job catches at its top and reports it.
#include <stdexcept>
#include <string>

namespace orx {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace orx
