#include "app/window/worker_wait.h"

#include <QEventLoop>
#include <QThread>
#include <exception>
#include <memory>

namespace orx {

void WorkerThreadWait::Run(const std::function<void()>& call) {
  std::exception_ptr failure;
  const std::unique_ptr<QThread> worker(QThread::create([&call, &failure] {
    try {
      call();
    } catch (...) {
      failure = std::current_exception();
    }
  }));
  QEventLoop loop;
  // Queued to this thread: a worker that ends before exec() still ends it.
  QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
  worker->start();
  loop.exec();
  worker->wait();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace orx
