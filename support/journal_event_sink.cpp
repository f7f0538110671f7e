// Journal records in journald's native protocol, sent by hand.
//
// libsystemd's sd_journal_sendv() writes to a blocking datagram socket: when
// journald's socket exists but is not drained (a hung or overloaded journald)
// the call blocks once the receive queue is full, for as long as the queue
// stays full. A job must never wait on its event log, so this sink builds the
// same datagram itself and sends it with MSG_DONTWAIT; a full queue, a
// missing socket or any other failure drops the record. The wire format is
// the one sd_journal_sendv() produces: "NAME=value\n" per field, or
// "NAME\n" + 64-bit little-endian length + value + "\n" for a value holding a
// line break. A datagram too large for the socket goes, as libsystemd does
// it, in a sealed memfd passed as SCM_RIGHTS, so long records (a whole server
// reply) are not lost. Nothing of libsystemd is needed for this.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/event_log.h"
#include "support/unique_fd.h"

namespace orx {
namespace {

constexpr int kSendBufferBytes = 8 * 1024 * 1024;

void AppendField(std::string& out, std::string_view name, std::string_view value) {
  out += name;
  if (value.find('\n') == std::string_view::npos) {
    out += '=';
    out += value;
  } else {
    out += '\n';
    std::uint64_t length = value.size();
    for (int i = 0; i < 8; ++i, length >>= 8) out += static_cast<char>(length & 0xFF);
    out += value;
  }
  out += '\n';
}

int Priority(EventType type) {
  switch (type) {
    case EventType::Error:
      return 3;
    case EventType::AuditFailure:
      return 4;
    case EventType::AuditSuccess:
      return 5;
    case EventType::Information:
      return 6;
  }
  return 6;
}


// journald accepts a datagram's content as a sealed memfd when it is too
// large to send inline.
void SendAsMemfd(int socket, const sockaddr_un& address, std::string_view datagram) {
  const UniqueFd memory(::memfd_create("journal-data", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (memory.get() < 0 || !WriteAll(memory.get(), datagram)) return;
  if (::fcntl(memory.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) <
      0) {
    return;
  }
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_name = const_cast<sockaddr_un*>(&address);
  message.msg_namelen = sizeof address;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  const int fd = memory.get();
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  ::sendmsg(socket, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace

JournalEventSink::JournalEventSink(std::string socketPath) : socketPath_(std::move(socketPath)) {}

std::string JournalEventSink::Format(const EventRecord& record) {
  std::string message;
  for (std::size_t i = 0; i < record.strings.size(); ++i) {
    if (i > 0) message += " | ";
    message += record.strings[i];
  }
  char eventId[16];
  std::snprintf(eventId, sizeof eventId, "0x%08X", static_cast<unsigned>(record.eventId));

  std::string datagram;
  AppendField(datagram, "MESSAGE", message);
  AppendField(datagram, "SYSLOG_IDENTIFIER", record.source);
  AppendField(datagram, "PRIORITY", std::to_string(Priority(record.type)));
  AppendField(datagram, "ORX_EVENT_TYPE", std::to_string(static_cast<unsigned>(record.type)));
  AppendField(datagram, "ORX_CATEGORY", std::to_string(record.category));
  AppendField(datagram, "ORX_EVENT_ID", eventId);
  for (std::size_t i = 0; i < record.strings.size(); ++i) {
    AppendField(datagram, "ORX_STRING_" + std::to_string(i + 1), record.strings[i]);
  }
  return datagram;
}

void JournalEventSink::Write(const EventRecord& record) noexcept {
  try {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.empty() || socketPath_.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());

    const std::string datagram = Format(record);
    const UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0) return;
    // Larger datagrams fit inline; the kernel caps this at its own maximum.
    ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);

    const ssize_t sent =
        ::sendto(socket.get(), datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (sent < 0 && (errno == EMSGSIZE || errno == ENOBUFS)) {
      SendAsMemfd(socket.get(), address, datagram);
    }
  } catch (...) {
    // A record that cannot be written is dropped.
  }
}

}  // namespace orx
