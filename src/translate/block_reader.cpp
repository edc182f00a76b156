#include "block_reader.h"

#include <cassert>
#include <system_error>

BlockReader::BlockReader(std::FILE* in, bool overlap) : in_(in) {
    if (!overlap) return;
    try {
        thread_ = std::thread(&BlockReader::run, this);
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): read in the caller.
    }
}

BlockReader::~BlockReader() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;  // the reads still queued are not needed
    }
    changed_.notify_all();
    thread_.join();
}

std::size_t BlockReader::perform(const Job& job) {
    if (short_) return 0;
    std::size_t got = std::fread(job.data, 1, job.len, in_);
    short_ = got < job.len;
    return got;
}

void BlockReader::read(unsigned char* data, std::size_t len) {
    assert(queued_ - waited_ < kAhead);
    if (!thread_.joinable()) {
        got_[queued_++ % kAhead] = perform(Job{data, len});
        ++done_;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(Job{data, len});
        ++queued_;
    }
    changed_.notify_all();
}

std::size_t BlockReader::wait_read() {
    assert(waited_ < queued_);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return done_ > waited_; });
    return got_[waited_++ % kAhead];
}

void BlockReader::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
        if (closing_) return;
        Job job = jobs_.front();
        lock.unlock();
        std::size_t got = perform(job);
        lock.lock();
        got_[done_++ % kAhead] = got;
        jobs_.pop_front();
        changed_.notify_all();
    }
}
