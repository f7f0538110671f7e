#include "exchange/transfer_watch.h"

namespace orx {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kSampleEvery{250};

}  // namespace

TransferWatch::TransferWatch(const TransferLimits& limits, std::uint64_t bodyBytes,
                             Clock::time_point start, std::optional<Clock::time_point> outer)
    : limits_(limits),
      allowance_(limits.whole +
                 limits.perBodyChunk *
                     static_cast<milliseconds::rep>(
                         limits.bodyChunkBytes > 0 ? bodyBytes / limits.bodyChunkBytes : 0)),
      start_(start),
      outer_(outer),
      lastMove_(start) {}

TransferLimit TransferWatch::Check(Clock::time_point now, const TransferState& state) {
  if (reached_ != TransferLimit::None) return reached_;
  if (!connected_ && (state.connected || state.sent > 0 || state.received > 0)) {
    connected_ = true;
    lastMove_ = now;
  }
  if (state.sent != lastSent_ || state.received != lastReceived_ ||
      state.unacknowledged != lastUnacknowledged_) {
    lastSent_ = state.sent;
    lastReceived_ = state.received;
    lastUnacknowledged_ = state.unacknowledged;
    lastMove_ = now;
  }
  // The request is sent once the other end has it all.
  if (connected_ && !sentAt_ && state.sent >= state.toSend && state.unacknowledged == 0) {
    sentAt_ = now;
  }
  if (sentAt_ && (received_.empty() || now - received_.back().first >= kSampleEvery)) {
    received_.emplace_back(now, state.received);
  }
  while (received_.size() >= 2 && received_[1].first <= now - limits_.slowReplyWindow) {
    received_.pop_front();
  }

  if (outer_ && now >= *outer_) {
    reached_ = TransferLimit::Outer;
  } else if (!connected_ && now - start_ >= limits_.connect) {
    reached_ = TransferLimit::Connect;
  } else if (now - start_ >= allowance_) {
    reached_ = TransferLimit::Whole;
  } else if (connected_ && now - lastMove_ >= limits_.stall) {
    reached_ = TransferLimit::Stall;
  } else if (sentAt_ && now - *sentAt_ >= limits_.slowReplyWindow &&
             received_.front().first <= now - limits_.slowReplyWindow) {
    const std::uint64_t least = limits_.slowReplyBytesPerSecond *
                                static_cast<std::uint64_t>(limits_.slowReplyWindow.count()) / 1000;
    if (state.received - received_.front().second < least) reached_ = TransferLimit::SlowReply;
  }
  return reached_;
}

TransferLimit TransferWatch::Ended(Clock::time_point now) const {
  if (reached_ != TransferLimit::None) return reached_;
  // libcurl's own timers are set to the outer deadline, the connect limit
  // and the allowance, whichever comes first.
  if (outer_ && now >= *outer_) return TransferLimit::Outer;
  if (!connected_ && limits_.connect <= allowance_) return TransferLimit::Connect;
  return TransferLimit::Whole;
}

std::string TransferWatch::Describe(TransferLimit limit, const std::string& outerLimit) const {
  switch (limit) {
    case TransferLimit::None:
      return {};
    case TransferLimit::Connect:
      return "нет соединения с сервером за " + DurationText(limits_.connect);
    case TransferLimit::Stall:
      return "за " + DurationText(limits_.stall) + " не передано ни байта";
    case TransferLimit::Whole:
      return "запрос не завершился за " + DurationText(allowance_) + " — " +
             DurationText(limits_.whole) + " и " + DurationText(limits_.perBodyChunk) +
             " на каждые " + std::to_string(limits_.bodyChunkBytes / 1024) + " КиБ тела запроса";
    case TransferLimit::SlowReply:
      return "ответ шёл медленнее " + std::to_string(limits_.slowReplyBytesPerSecond) +
             " байт/с в течение " + DurationText(limits_.slowReplyWindow);
    case TransferLimit::Outer:
      return outerLimit;
  }
  return {};
}

std::string DurationText(milliseconds duration) {
  const auto count = duration.count();
  if (count % 60000 == 0 && count >= 5 * 60000) return std::to_string(count / 60000) + " мин";
  if (count % 1000 == 0) return std::to_string(count / 1000) + " с";
  return std::to_string(count) + " мс";
}

}  // namespace orx
