// Writes the translated copy block by block on a thread of its own, so that
// writing one block overlaps reading and scanning the next. Without a thread
// (one cannot be started, or the blocks are small) it writes in the caller.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "byte_sink.h"

class BlockWriter {
public:
    // Without out, the blocks are dropped: nothing is written.
    BlockWriter(std::FILE* out, bool overlap);
    // The blocks go to sink instead of a file.
    BlockWriter(ByteSink sink, bool overlap);
    // The blocks go straight to the descriptor.
    BlockWriter(int fd, bool overlap);
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Queues the len bytes at data, which must stay unchanged until the
    // write is done. Throws std::bad_alloc.
    void write(const unsigned char* data, std::size_t len);
    // Queues work to run on the writer's thread after the writes queued
    // before it and before those queued after it (in the caller, without a
    // thread). It must not throw.
    void call(std::function<void()> task);
    // Whether the writes and calls run on a thread of their own.
    bool threaded() const { return thread_.joinable(); }
    // Waits until no more than pending writes (calls not counted) are queued
    // or under way; returns whether it had to wait.
    bool wait_pending(std::size_t pending);
    // Whether a write has failed (the rest are then dropped).
    bool failed();
    // Waits for every queued write; returns whether all of them succeeded.
    bool finish();

private:
    struct Job {
        const unsigned char* data;
        std::size_t len;
        std::function<void()> task;  // a call, not a write
    };
    void start(bool overlap);
    void queue(Job job);
    void run();
    bool put(const Job& job);

    ByteSink sink_;  // empty: the blocks are dropped
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;      // the first is under way
    std::size_t writes_ = 0;    // the writes among them
    bool closing_ = false;
    bool failed_ = false;
    std::thread thread_;
};
