// Starts the threads that the translator runs beside its caller.
#pragma once

#include <functional>
#include <thread>

// Starts body on a thread of its own, as std::thread does (and throws as it
// does). On Linux a new thread is queued on its creator's core and waited
// there for the creator's slice to end or for the next tick to move it: on
// two cores idle for 5 ms before, it began a median 2.5 ms (at most 5 ms)
// after it was started, and 0.1 ms when first placed on the other core. So
// it is placed first on the caller's other cores, when it may use others,
// and takes back every core the caller may use before body runs.
std::thread start_thread(std::function<void()> body);
