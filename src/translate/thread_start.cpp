#include "thread_start.h"

#include <atomic>
#include <memory>
#include <utility>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

std::thread start_thread(std::function<void()> body) {
#if defined(__linux__)
    cpu_set_t all;
    CPU_ZERO(&all);
    const int here = ::sched_getcpu();
    if (here >= 0 && here < CPU_SETSIZE && ::sched_getaffinity(0, sizeof all, &all) == 0 && CPU_ISSET(here, &all) &&
        CPU_COUNT(&all) > 1) {
        // The thread takes back every core once it has been placed (or its
        // placing failed), never before: placed after that, it would stay
        // on the others.
        auto placed = std::make_shared<std::atomic<bool>>(false);
        std::thread t([placed, all, body = std::move(body)] {
            while (!placed->load(std::memory_order_acquire)) std::this_thread::yield();
            ::pthread_setaffinity_np(::pthread_self(), sizeof all, &all);
            body();
        });
        cpu_set_t others = all;
        CPU_CLR(here, &others);
        ::pthread_setaffinity_np(t.native_handle(), sizeof others, &others);
        placed->store(true, std::memory_order_release);
        return t;
    }
#endif
    return std::thread(std::move(body));
}
