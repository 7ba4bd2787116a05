// A blocking piece of work run in a thread of its own while the calling
// thread's event loop goes on (painting, timers, queued calls).
#pragma once

#include <exception>
#include <functional>

namespace mkpt {

// Returns once the work has ended, with the exception that ended it or null.
std::exception_ptr RunOffThread(const std::function<void()>& work);

}  // namespace mkpt
