#include "block_writer.h"

#include <system_error>
#include <utility>

BlockWriter::BlockWriter(std::FILE* out, bool overlap)
    : BlockWriter(out == nullptr ? ByteSink{}
                                 : ByteSink{[out](const unsigned char* data, std::size_t n) {
                                       return std::fwrite(data, 1, n, out) == n;
                                   }},
                  overlap) {}

BlockWriter::BlockWriter(ByteSink sink, bool overlap) : sink_(std::move(sink)) {
    if (!overlap || !sink_) return;
    try {
        thread_ = std::thread(&BlockWriter::run, this);
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): write in the caller.
    }
}

BlockWriter::~BlockWriter() { finish(); }

void BlockWriter::write(const unsigned char* data, std::size_t len) {
    if (!sink_) return;
    if (!thread_.joinable()) {
        if (!failed_ && !put(Job{data, len})) failed_ = true;
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
        bool ok = skip || put(job);
        lock.lock();
        if (!ok) failed_ = true;
        jobs_.pop_front();
        changed_.notify_all();
    }
}

bool BlockWriter::put(const Job& job) { return job.len == 0 || sink_(job.data, job.len); }
