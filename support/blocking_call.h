#pragma once
// A call that may block for a long time (a network transfer waiting up to
// its time-outs). The window runs it off its own thread and keeps painting
// until it returns; without a runner it simply runs in place.
#include <functional>

namespace orx {

class BlockingCallRunner {
 public:
  virtual ~BlockingCallRunner() = default;
  // Runs call exactly once and returns when it has returned; an exception
  // it throws comes out of Run. call must not touch the window.
  virtual void Run(const std::function<void()>& call) = 0;
};

}  // namespace orx
