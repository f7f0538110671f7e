#pragma once
// Choosing the certificate-database server from the dispatcher's reply to
// "hello": the protocol-version check, the server's messages, and a "version"
// request to each listed server in turn until one accepts the client.
#include <string>
#include <string_view>

#include "exchange/https_connection.h"
#include "support/event_log.h"
#include "support/log_pane.h"

namespace orx {

// The path a "cdb" element names, as requests are made under it: from its
// first "/" on, without one trailing "/" ("/cdb/" -> "/cdb", "x/cdb" ->
// "/cdb", "/" -> ""); a path without "/" stays as it is.
std::string NormaliseServerPath(std::string_view path);

// Returns the chosen server's path. Afterwards the connection's ServerName and
// Port are that server's and its ObjectName is that server's "version"
// request; its agent, certificate subject and request data are untouched.
// Writes the server's messages (and those of servers passed over for an
// authentication failure) to log unless it is null, and event records under
// callerName to events. A refused hello reply, a protocol version other than
// 2 and the lack of a suitable server throw Error with the operator's message.
// The hello reply is released once read. The search ends within the
// connection's RequestLimits.serverSearch in all: when that runs out, no
// further server is tried and the message names the limit.
std::string FindSuitableUrl(THttpsConnection& connection, std::string_view identification,
                            std::string_view callerName, LogPane* log, EventSink& events,
                            std::string helloReply);

}  // namespace orx
