#pragma once
// The certificate namespace: declared on the source document's root and the
// target namespace every document kind's schema must have.
#include <string_view>

namespace orx {

inline constexpr std::string_view CertNamespaceUri = "urn:orx-rf:certificates";

}  // namespace orx
