#include "block_writer.h"

#include "thread_start.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace {

// Writes the len bytes at data whole, going on after short writes and
// interruptions.
bool write_all(int fd, const unsigned char* data, std::size_t len) {
    while (len != 0) {
        const ssize_t done = ::write(fd, data, len);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data += done;
        len -= static_cast<std::size_t>(done);
    }
    return true;
}

}  // namespace

BlockWriter::BlockWriter(std::FILE* out, bool overlap)
    : BlockWriter(out == nullptr ? ByteSink{}
                                 : ByteSink{[out](const unsigned char* data, std::size_t n) {
                                       return std::fwrite(data, 1, n, out) == n;
                                   }},
                  overlap) {}

BlockWriter::BlockWriter(ByteSink sink, bool overlap) : sink_(std::move(sink)) { start(overlap); }

BlockWriter::BlockWriter(int fd, bool overlap)
    : sink_([fd](const unsigned char* data, std::size_t n) { return write_all(fd, data, n); }) {
    start(overlap);
}

void BlockWriter::start(bool overlap) {
    if (!overlap || !sink_) return;
    try {
        thread_ = start_thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): write in the caller.
    }
}

BlockWriter::~BlockWriter() { finish(); }

void BlockWriter::write(const unsigned char* data, std::size_t len) { queue(Job{data, len, {}}); }

void BlockWriter::call(std::function<void()> task) { queue(Job{nullptr, 0, std::move(task)}); }

void BlockWriter::queue(Job job) {
    if (!sink_) return;
    if (!thread_.joinable()) {
        if (!failed_ && !put(job)) failed_ = true;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!job.task) ++writes_;
        jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
}

bool BlockWriter::wait_pending(std::size_t pending) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (writes_ <= pending) return false;
    changed_.wait(lock, [&] { return writes_ <= pending; });
    return true;
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
        const Job& job = jobs_.front();  // stays in place: only this thread pops
        bool skip = failed_;
        lock.unlock();
        bool ok = skip || put(job);
        lock.lock();
        if (!ok) failed_ = true;
        if (!job.task) --writes_;
        jobs_.pop_front();
        changed_.notify_all();
    }
}

bool BlockWriter::put(const Job& job) {
    if (job.task) {
        job.task();
        return true;
    }
    return job.len == 0 || sink_(job.data, job.len);
}
