#pragma once
// Ownership of the handles C libraries hand out: a std::unique_ptr whose
// deleter calls the library's own release function. The release function is
// part of the type, so a handle cannot be freed by the wrong library.
//
//   using ZipPtr = CHandle<zip_t, zip_discard>;
//   CHandle<xmlChar, [](xmlChar* text) { xmlFree(text); }> text(raw);
//
// A lambda serves where the release is a macro or a function pointer
// variable (xmlFree), or takes more than the handle.
#include <memory>

namespace orx {

template <auto Release>
struct CHandleDeleter {
  template <typename T>
  void operator()(T* handle) const noexcept {
    Release(handle);
  }
};

template <typename T, auto Release>
using CHandle = std::unique_ptr<T, CHandleDeleter<Release>>;

}  // namespace orx
