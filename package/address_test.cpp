#include "package/address.h"

#include <gtest/gtest.h>

#include "support/error.h"

namespace orx {
namespace {

struct AddressRow {
  const char* address;
  const char* host;
  const char* path;
  const char* port;  // the number, or the error message
};

const AddressRow kRows[] = {
    {"https://certsrv:8443/cdb/x", "certsrv", "/cdb/x", "8443"},
    {"https://certsrv:8443/", "certsrv", "", "8443"},
    {"https://certsrv:8443", "certsrv", "", "'' is not a valid integer value"},
    {"https://certsrv/cdb", "certsrv", "/cdb", "'' is not a valid integer value"},
    {"certsrv:443/a/b/", "certsrv", "/a/b/", "443"},
    {"certsrv", "certsrv", "", "'' is not a valid integer value"},
    {"", "", "", "'' is not a valid integer value"},
    {"https://:8443/x", "", "", "'' is not a valid integer value"},
    // A host that also occurs in the scheme is cut where it stands.
    {"https://ps:8443/cdb/", "ps", "/cdb/", "8443"},
    {"http://h:80/x", "h", "/x", "80"},
    {"https://certsrv:84a3/", "certsrv", "", "'84a3' is not a valid integer value"},
    {"https://certsrv: 443/", "certsrv", "", "' 443' is not a valid integer value"},
    {"https://certsrv:0x1BB/", "certsrv", "", "'0x1BB' is not a valid integer value"},
    {"https://certsrv:-443/", "certsrv", "", "Range check error"},
    {"https://certsrv:+443/", "certsrv", "", "443"},
    {"https://certsrv:70000/", "certsrv", "", "70000"},
    {"https://certsrv:2147483647/", "certsrv", "", "2147483647"},
    {"https://certsrv:2147483648/", "certsrv", "",
     "'2147483648' is not a valid integer value"},
    {"https://certsrv:-2147483648/", "certsrv", "", "Range check error"},
    {"https://certsrv:-2147483649/", "certsrv", "",
     "'-2147483649' is not a valid integer value"},
    {"https://certsrv:99999999999999999999999/", "certsrv", "",
     "'99999999999999999999999' is not a valid integer value"},
};

std::string PortOrError(const char* address) {
  try {
    return std::to_string(PortFromAddress(address));
  } catch (const Error& error) {
    return error.what();
  }
}

TEST(Address, SplitsIntoHostPathAndPort) {
  for (const AddressRow& row : kRows) {
    EXPECT_EQ(HostFromAddress(row.address), row.host) << row.address;
    EXPECT_EQ(PathFromAddress(row.address), row.path) << row.address;
    EXPECT_EQ(PortOrError(row.address), row.port) << row.address;
  }
}

}  // namespace
}  // namespace orx
