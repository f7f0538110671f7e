#pragma once
// The time limits of one running request, and the operator's words for the
// one that ended it. Pure bookkeeping: the transport feeds it what it sees
// of a transfer (libcurl's progress callback, about once a second and
// whenever bytes move) and stops the transfer when a limit is reached.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace orx {

// What ends a request. Each limit that ends one is named in its failure.
struct TransferLimits {
  // No connection (TCP and TLS, through a proxy too) within this time.
  std::chrono::milliseconds connect = std::chrono::seconds(60);
  // Once connected, no byte moving either way for this long.
  std::chrono::milliseconds stall = std::chrono::seconds(60);
  // The whole request: this, and `perBodyChunk` more for every
  // `bodyChunkBytes` of the request body, so that a large upload over a slow
  // line still gets through.
  std::chrono::milliseconds whole = std::chrono::seconds(300);
  std::chrono::milliseconds perBodyChunk = std::chrono::seconds(1);
  std::size_t bodyChunkBytes = 16 * 1024;
  // Once the request is sent, a reply averaging fewer bytes a second than
  // this over `slowReplyWindow`.
  std::size_t slowReplyBytesPerSecond = 64;
  std::chrono::milliseconds slowReplyWindow = std::chrono::seconds(60);
  // Finding a suitable server, every listed one tried (FindSuitableUrl).
  std::chrono::milliseconds serverSearch = std::chrono::minutes(5);
  // A reply body larger than this.
  std::size_t replyBytes = std::size_t{64} * 1024 * 1024;
};

enum class TransferLimit { None, Connect, Stall, Whole, SlowReply, Outer };

// What a transfer has done so far, as the progress callback sees it.
struct TransferState {
  bool connected = false;    // the request has begun to go out
  std::uint64_t sent = 0;     // request body bytes sent
  std::uint64_t toSend = 0;   // of a body this long
  std::uint64_t received = 0; // reply bytes, headers included
  // Bytes handed to the system that the other end has not acknowledged yet.
  std::uint64_t unacknowledged = 0;
};

class TransferWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // A request with a body of bodyBytes starting at `start`; `outer`, when
  // set, is a moment by which it must end whatever its own limits allow.
  TransferWatch(const TransferLimits& limits, std::uint64_t bodyBytes, Clock::time_point start,
                std::optional<Clock::time_point> outer);

  // Which limit the transfer has reached by `now`, None while it may go on.
  // The first one reached is kept: later calls give it again.
  TransferLimit Check(Clock::time_point now, const TransferState& state);

  // The time the whole request may take: `whole` and `perBodyChunk` for
  // every `bodyChunkBytes` of the body.
  std::chrono::milliseconds Allowance() const { return allowance_; }
  // The limit that ended the transfer (Check's answer, or the one whose time
  // was up when libcurl stopped it by its own timer).
  TransferLimit Ended(Clock::time_point now) const;
  // Words for a limit: "нет соединения с сервером за 60 с" and the like.
  // outerLimit names the outer deadline.
  std::string Describe(TransferLimit limit, const std::string& outerLimit) const;

 private:
  TransferLimits limits_;
  std::chrono::milliseconds allowance_;
  Clock::time_point start_;
  std::optional<Clock::time_point> outer_;
  TransferLimit reached_ = TransferLimit::None;
  bool connected_ = false;
  Clock::time_point lastMove_;
  std::uint64_t lastSent_ = 0;
  std::uint64_t lastReceived_ = 0;
  std::uint64_t lastUnacknowledged_ = 0;
  // Reply bytes received by each moment since the request was sent, a
  // sample every quarter second at most; the oldest kept is the last one at
  // or before the start of the window.
  std::optional<Clock::time_point> sentAt_;
  std::deque<std::pair<Clock::time_point, std::uint64_t>> received_;
};

// "60 с", "1500 мс", "5 мин" (whole minutes from five on).
std::string DurationText(std::chrono::milliseconds duration);

}  // namespace orx
