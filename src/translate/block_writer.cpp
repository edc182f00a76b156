#include "block_writer.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>

namespace {

// Writes the pieces whole, going on after short writes and interruptions.
bool write_all(int fd, iovec* pieces, std::size_t count) {
    while (count != 0) {
        const int n = static_cast<int>(std::min<std::size_t>(count, IOV_MAX));
        ssize_t done = ::writev(fd, pieces, n);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        auto left = static_cast<std::size_t>(done);
        while (count != 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count != 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
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
    : sink_([fd](const unsigned char* data, std::size_t n) {
          iovec piece{const_cast<unsigned char*>(data), n};
          return write_all(fd, &piece, 1);
      }),
      fd_(fd) {
    start(overlap);
}

void BlockWriter::start(bool overlap) {
    if (!overlap || !sink_) return;
    try {
        thread_ = std::thread(&BlockWriter::run, this);
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): write in the caller.
    }
}

BlockWriter::~BlockWriter() { finish(); }

void BlockWriter::write(const unsigned char* data, std::size_t len) { queue(Job{data, len, 0, {}, {}}); }

void BlockWriter::write(const unsigned char* data, std::size_t len, std::int64_t base, std::vector<Patch> patches) {
    queue(Job{data, len, base, std::move(patches), {}});
}

void BlockWriter::call(std::function<void()> task) { queue(Job{nullptr, 0, 0, {}, std::move(task)}); }

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

// E.g. the block "\0File\0Quit\0" at base 100 with the patch "Weg " at 106:
// the pieces "\0File\0", "Weg ", "\0". They are gathered in batches on the
// stack, so that writing allocates nothing.
bool BlockWriter::put(const Job& job) {
    if (job.task) {
        job.task();
        return true;
    }
    if (job.len == 0) return true;
    if (job.patches.empty()) return sink_(job.data, job.len);
    assert(fd_ >= 0);
    constexpr std::size_t kBatch = 512;
    iovec pieces[kBatch];
    std::size_t count = 0;
    auto add = [&](const unsigned char* bytes, std::size_t n) {
        if (count == kBatch) {
            if (!write_all(fd_, pieces, count)) return false;
            count = 0;
        }
        pieces[count++] = iovec{const_cast<unsigned char*>(bytes), n};
        return true;
    };
    std::size_t at = 0;
    for (const Patch& p : job.patches) {
        const auto from = static_cast<std::size_t>(p.offset - job.base);
        assert(p.offset >= job.base && from >= at && from + p.len <= job.len);
        if ((from > at && !add(job.data + at, from - at)) || !add(p.bytes, p.len)) return false;
        at = from + p.len;
    }
    if (at < job.len && !add(job.data + at, job.len - at)) return false;
    return write_all(fd_, pieces, count);
}
