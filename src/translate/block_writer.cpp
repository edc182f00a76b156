#include "block_writer.h"

#include <system_error>

BlockWriter::BlockWriter(std::FILE* out, bool overlap) : out_(out) {
    if (!overlap) return;
    try {
        thread_ = std::thread(&BlockWriter::run, this);
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): write in the caller.
    }
}

BlockWriter::~BlockWriter() { finish(); }

void BlockWriter::write(const unsigned char* data, std::size_t len) {
    if (out_ == nullptr) return;
    if (!thread_.joinable()) {
        if (!failed_ && len != 0 && std::fwrite(data, 1, len, out_) != len) failed_ = true;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(Job{data, len});
    }
    changed_.notify_all();
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

void BlockWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return closing_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // closing, and everything written
        Job job = jobs_.front();
        bool skip = failed_;
        lock.unlock();
        bool ok = skip || job.len == 0 || std::fwrite(job.data, 1, job.len, out_) == job.len;
        lock.lock();
        if (!ok) failed_ = true;
        jobs_.pop_front();
        changed_.notify_all();
    }
}
