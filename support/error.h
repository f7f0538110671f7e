#pragma once
// The program's failure model: helpers raise an Error carrying the message
// text an operator sees; each job catches at its top and reports it.
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace orx {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kOutOfMemory = "недостаточно памяти";

// The text a job reports for a failure it caught: the message of the
// failure, but words of the program's own where the standard library's
// would mean nothing to an operator ("std::bad_alloc").
inline std::string FailureText(const std::exception& failure) {
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) return kOutOfMemory;
  return failure.what();
}

}  // namespace orx
