// Reads the program block by block ahead of the scan, on a thread of its
// own, so that reading, scanning and writing (on the writer's thread) each
// take a core when one is free, as in a pipe of three commands. Without a
// thread (one cannot be started, or the blocks are small) it reads in the
// caller.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

class BlockReader {
public:
    BlockReader(std::FILE* in, bool overlap);
    ~BlockReader();
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // At most this many reads are queued and not yet waited for.
    static constexpr std::size_t kAhead = 8;

    // Queues a read of up to len bytes into data, which is not touched
    // otherwise until the read has been waited for. Once a read comes back
    // short (the end of the file, or a read error that ends it), later
    // reads get nothing and the file is not read again. Throws
    // std::bad_alloc.
    void read(unsigned char* data, std::size_t len);
    // Waits for the oldest read not yet waited for; returns the bytes it got.
    std::size_t wait_read();

private:
    struct Job {
        unsigned char* data;
        std::size_t len;
    };
    void run();
    std::size_t perform(const Job& job);

    std::FILE* in_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;  // the first is under way
    // What read n got is in got_[n % kAhead] once done_ > n; the thread
    // takes no memory, whose failure it could not report.
    std::size_t got_[kAhead] = {};
    std::size_t queued_ = 0;
    std::size_t done_ = 0;
    std::size_t waited_ = 0;
    bool short_ = false;  // touched only by the one reading
    bool closing_ = false;
    std::thread thread_;
};
