#include "app/offthread.h"

#include <QEventLoop>
#include <atomic>
#include <thread>

namespace mkpt {

std::exception_ptr RunOffThread(const std::function<void()>& work) {
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  QEventLoop loop;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  worker.join();
  return failure;
}

}  // namespace mkpt
