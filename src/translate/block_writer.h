// Writes the translated copy block by block on a thread of its own, so that
// writing one block overlaps reading and scanning the next. Without a thread
// (one cannot be started, or the blocks are small) it writes in the caller.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "byte_sink.h"

// Bytes that go out in place of as many bytes of a block: a replacement made
// where the block itself cannot be written to (a read-only mapping).
struct Patch {
    std::int64_t offset;  // in the file
    const unsigned char* bytes;
    std::size_t len;
};

class BlockWriter {
public:
    // Without out, the blocks are dropped: nothing is written.
    BlockWriter(std::FILE* out, bool overlap);
    // The blocks go to sink instead of a file.
    BlockWriter(ByteSink sink, bool overlap);
    // The blocks go straight to the descriptor, a block with patches in one
    // gathered write.
    BlockWriter(int fd, bool overlap);
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Queues the len bytes at data, which must stay unchanged until the
    // write is done. Throws std::bad_alloc.
    void write(const unsigned char* data, std::size_t len);
    // The same, with the patches (ascending, apart, each inside the block,
    // whose first byte is at file offset base) written in place of the
    // block's bytes under them; the patches' bytes must stay too.
    void write(const unsigned char* data, std::size_t len, std::int64_t base, std::vector<Patch> patches);
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
        std::int64_t base = 0;
        std::vector<Patch> patches;
        std::function<void()> task;  // a call, not a write
    };
    void start(bool overlap);
    void queue(Job job);
    void run();
    bool put(const Job& job);

    ByteSink sink_;  // empty: the blocks are dropped
    int fd_ = -1;    // with a descriptor: patched blocks are gathered
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;      // the first is under way
    std::size_t writes_ = 0;    // the writes among them
    bool closing_ = false;
    bool failed_ = false;
    std::thread thread_;
};
