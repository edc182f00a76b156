// Writes the translated copy block by block on a thread of its own, and
// reads the program's next blocks on the same thread, so that reading and
// writing, which together cost what copying the file costs, overlap the
// scan of the blocks in between. Without a thread (one cannot be started,
// or the blocks are small) it reads and writes in the caller.
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
    // Queues a read of up to len bytes of in into data, done after the
    // writes queued before it, so that a buffer may be read into again
    // right after its write is queued. Once a read comes back short (the
    // end of the file, or a read error that ends it), later reads get
    // nothing and in is not read again. Throws std::bad_alloc.
    void read(std::FILE* in, unsigned char* data, std::size_t len);
    // Waits for the oldest read queued and not yet waited for; returns the
    // bytes it got. At most kReadsAhead reads are queued and not waited for.
    std::size_t wait_read();
    static constexpr std::size_t kReadsAhead = 8;
    // Waits until no more than pending writes and reads are queued or under
    // way.
    void wait_pending(std::size_t pending);
    // Whether a write has failed (the rest are then dropped).
    bool failed();
    // Waits for every queued write (reads still queued are dropped); returns
    // whether all of them succeeded.
    bool finish();

private:
    struct Job {
        unsigned char* into;  // a read's buffer, or nullptr for a write
        const unsigned char* data;
        std::size_t len;
        std::FILE* in;
    };
    void run();
    // Does job, with the lock released when there is a thread.
    void perform(const Job& job);

    std::FILE* out_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;  // the first is under way
    // What read n got is in got_[n % kReadsAhead] once reads_done_ > n; no
    // memory is taken on the thread, where its failure could not be told.
    std::size_t got_[kReadsAhead] = {};
    std::size_t reads_queued_ = 0;
    std::size_t reads_done_ = 0;
    std::size_t reads_waited_ = 0;
    bool closing_ = false;
    bool failed_ = false;
    bool read_short_ = false;  // only the thread doing the reads touches it
    std::thread thread_;
};
