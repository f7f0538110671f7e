#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "support/event_log.h"
#include "support/files.h"
#include "support/unique_fd.h"
#include "testing/test_support.h"

namespace orx {
namespace {

using testing::ScratchDir;

// A datagram socket bound in a scratch folder, standing in for journald.
class FakeJournal {
 public:
  explicit FakeJournal(std::string path)
      : path_(std::move(path)), fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ADD_FAILURE() << "bind " << path_ << ": " << std::strerror(errno);
    }
  }

  const std::string& path() const { return path_; }

  // The next queued entry, read inline or from a passed memfd; empty when
  // nothing is queued.
  std::string Receive() const {
    const ssize_t size = ::recv(fd_.get(), nullptr, 0, MSG_DONTWAIT | MSG_PEEK | MSG_TRUNC);
    if (size < 0) return {};
    std::string buffer(static_cast<std::size_t>(size), '\0');
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    iovec io{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd_.get(), &message, MSG_DONTWAIT);
    if (n < 0) return {};
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header && header->cmsg_type == SCM_RIGHTS) {
      int memfd = -1;
      std::memcpy(&memfd, CMSG_DATA(header), sizeof memfd);
      const UniqueFd owned(memfd);
      return FileToString("/proc/self/fd/" + std::to_string(memfd));
    }
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
  }

 private:
  std::string path_;
  UniqueFd fd_;
};

std::string Binary(std::string_view name, std::string_view value) {
  std::string field(name);
  field += '\n';
  std::uint64_t length = value.size();
  for (int i = 0; i < 8; ++i, length >>= 8) field += static_cast<char>(length & 0xFF);
  return field + std::string(value) + "\n";
}

TEST(JournalEventSink, SendsTheNativeDatagram) {
  struct Case {
    EventRecord record;
    std::string expected;
  } cases[] = {
      {{"ОРХ РФ",
        EventType::Error,
        kCategoryJob,
        kEventOperationFailed,
        {"TFormMain.XmlToCod", "ошибка=1"}},
       "MESSAGE=TFormMain.XmlToCod | ошибка=1\n"
       "SYSLOG_IDENTIFIER=ОРХ РФ\nPRIORITY=3\nORX_EVENT_TYPE=1\nORX_CATEGORY=7\n"
       "ORX_EVENT_ID=0x40000103\nORX_STRING_1=TFormMain.XmlToCod\nORX_STRING_2=ошибка=1\n"},
      {{"s", EventType::AuditFailure, kCategoryExchange, kEventRequestFault, {}},
       "MESSAGE=\nSYSLOG_IDENTIFIER=s\nPRIORITY=4\nORX_EVENT_TYPE=16\nORX_CATEGORY=2\n"
       "ORX_EVENT_ID=0x40007500\n"},
      {{"s", EventType::AuditSuccess, kCategoryExchange, kEventDialogueOutcome, {"ok"}},
       "MESSAGE=ok\nSYSLOG_IDENTIFIER=s\nPRIORITY=5\nORX_EVENT_TYPE=8\nORX_CATEGORY=2\n"
       "ORX_EVENT_ID=0x40000101\nORX_STRING_1=ok\n"},
      {{"s",
        EventType::Information,
        kCategoryExchange,
        kEventDialogueOutcome,
        {"line1\nline2", "b"}},
       Binary("MESSAGE", "line1\nline2 | b") +
           "SYSLOG_IDENTIFIER=s\nPRIORITY=6\nORX_EVENT_TYPE=4\nORX_CATEGORY=2\n"
           "ORX_EVENT_ID=0x40000101\n" +
           Binary("ORX_STRING_1", "line1\nline2") + "ORX_STRING_2=b\n"},
  };
  ScratchDir dir;
  FakeJournal journal(dir / "socket");
  JournalEventSink sink(journal.path());
  for (const auto& c : cases) {
    EXPECT_EQ(JournalEventSink::Format(c.record), c.expected);
    sink.Write(c.record);
    EXPECT_EQ(journal.Receive(), c.expected);
  }
}

TEST(JournalEventSink, RecordTooLargeForOneDatagramArrivesWhole) {
  ScratchDir dir;
  FakeJournal journal(dir / "socket");
  // A server reply as a record holds it whole: up to 16 MiB.
  const EventRecord record{
      "s", EventType::Error, kCategoryExchange, kEventRequestFault, {std::string(16 << 20, 'r')}};
  JournalEventSink(journal.path()).Write(record);
  EXPECT_EQ(journal.Receive(), JournalEventSink::Format(record));
}

TEST(JournalEventSink, NeitherAnUndrainedNorAMissingJournalHoldsUpTheCaller) {
  ScratchDir dir;
  FakeJournal journal(dir / "socket");  // never read until the end
  const EventRecord record{"s", EventType::Error, kCategoryJob, kEventOperationFailed, {"x"}};
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) JournalEventSink(journal.path()).Write(record);
  JournalEventSink(dir / "no-such-socket").Write(record);
  JournalEventSink(std::string(200, 'x')).Write(record);  // too long for a socket address
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(journal.Receive(), JournalEventSink::Format(record));
}

}  // namespace
}  // namespace orx
