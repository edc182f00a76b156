// Writes the translated copy block by block on a thread of its own, so that
// writing one block overlaps reading and scanning the next. Without a thread
// (one cannot be started, or the blocks are small) it writes in the caller.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

class BlockWriter {
public:
    // Without out, the blocks are dropped: nothing is written.
    BlockWriter(std::FILE* out, bool overlap);
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Queues the len bytes at data, which must stay unchanged until the
    // write is done. Throws std::bad_alloc.
    void write(const unsigned char* data, std::size_t len);
    // Waits until no more than pending writes are queued or under way.
    void wait_pending(std::size_t pending);
    // Whether a write has failed (the rest are then dropped).
    bool failed();
    // Waits for every queued write; returns whether all of them succeeded.
    bool finish();

private:
    struct Job {
        const unsigned char* data;
        std::size_t len;
    };
    void run();

    std::FILE* out_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;  // the first is under way
    bool closing_ = false;
    bool failed_ = false;
    std::thread thread_;
};
