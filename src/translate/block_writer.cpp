#include "block_writer.h"

#include <cassert>
#include <system_error>

BlockWriter::BlockWriter(std::FILE* out, bool overlap) : out_(out) {
    if (!overlap) return;
    try {
        thread_ = std::thread(&BlockWriter::run, this);
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): work in the caller.
    }
}

BlockWriter::~BlockWriter() { finish(); }

void BlockWriter::write(const unsigned char* data, std::size_t len) {
    if (out_ == nullptr) return;
    Job job{nullptr, data, len, nullptr};
    if (!thread_.joinable()) {
        perform(job);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(job);
    }
    changed_.notify_all();
}

void BlockWriter::read(std::FILE* in, unsigned char* data, std::size_t len) {
    Job job{data, nullptr, len, in};
    assert(reads_queued_ - reads_waited_ < kReadsAhead);
    if (!thread_.joinable()) {
        ++reads_queued_;
        perform(job);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(job);
        ++reads_queued_;
    }
    changed_.notify_all();
}

std::size_t BlockWriter::wait_read() {
    std::unique_lock<std::mutex> lock(mutex_);
    assert(reads_waited_ < reads_queued_);
    changed_.wait(lock, [&] { return reads_done_ > reads_waited_; });
    return got_[reads_waited_++ % kReadsAhead];
}

void BlockWriter::wait_pending(std::size_t pending) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return jobs_.size() <= pending; });
}

bool BlockWriter::failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

bool BlockWriter::finish() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    return !failed_;
}

void BlockWriter::perform(const Job& job) {
    const bool threaded = thread_.joinable();
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (job.into != nullptr) {
        std::size_t got = 0;
        if (!read_short_) {
            got = std::fread(job.into, 1, job.len, job.in);
            read_short_ = got < job.len;
        }
        if (threaded) lock.lock();
        got_[reads_done_++ % kReadsAhead] = got;
        return;
    }
    if (threaded) lock.lock();
    bool skip = failed_;
    if (threaded) lock.unlock();
    bool ok = skip || job.len == 0 || std::fwrite(job.data, 1, job.len, out_) == job.len;
    if (threaded) lock.lock();
    if (!ok) failed_ = true;
}

void BlockWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // closing, and everything written
        Job job = jobs_.front();
        // A read queued when the scan has stopped would only be wasted.
        bool dropped = closing_ && job.into != nullptr;
        lock.unlock();
        if (!dropped) perform(job);
        lock.lock();
        jobs_.pop_front();
        changed_.notify_all();
    }
}
