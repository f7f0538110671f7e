#pragma once
// Runs a blocking call on a worker thread while this thread keeps its event
// loop going, so that the window repaints; the window itself drops input
// while a job runs.
#include "support/blocking_call.h"

namespace orx {

class WorkerThreadWait final : public BlockingCallRunner {
 public:
  void Run(const std::function<void()>& call) override;
};

}  // namespace orx
