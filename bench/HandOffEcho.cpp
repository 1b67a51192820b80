#include "HandOffEcho.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "common/lang/YieldBriefly.h"

namespace {

constexpr std::size_t kWorkerLimit = 64;

class HandOffEcho {
public:
    explicit HandOffEcho(int socket) : socket_(socket) {}

    void Run() {
        std::thread writer([this] { Write(); });
        std::string kept;
        std::vector<char> chunk(65536);
        for (ssize_t count; (count = ::recv(socket_, chunk.data(), chunk.size(), 0)) > 0;) {
            kept.append(chunk.data(), static_cast<std::size_t>(count));
            Offer(kept);
        }
        {
            std::lock_guard lock(lock_);
            ended_ = true;
        }
        work_.notify_all();
        replies_.notify_all();
        for (std::thread& worker : workers_) {
            worker.join();
        }
        writer.join();
    }

private:
    // Queues the whole messages of kept and sees each one taken.
    void Offer(std::string& kept) {
        std::unique_lock lock(lock_);
        std::size_t start = 0;
        for (std::size_t end; (end = kept.find('\0', start)) != std::string::npos;
             start = end + 1) {
            messages_.emplace_back(kept, start, end - start + 1);
            if (messages_.size() <= free_ + waking_) {
                continue;  // a worker between messages, or one already woken, takes it
            }
            if (parked_ > waking_) {
                ++waking_;
                work_.notify_one();
            } else if (workers_.size() < kWorkerLimit) {
                ++free_;
                workers_.emplace_back([this] { Serve(); });
            }
        }
        kept.erase(0, start);
    }

    void Serve() {
        std::unique_lock lock(lock_);
        for (;;) {
            // Looks at the queue under its lock, between yields, before it parks: the way
            // of looking that carried the most here (a look at an atomic count without the
            // lock, as the agent's workers take, carried a sixth as much).
            for (int look = 0; look < lang::kLooksBeforeSleep && messages_.empty() && !ended_;
                 ++look) {
                lock.unlock();
                std::this_thread::yield();
                lock.lock();
            }
            while (messages_.empty() && !ended_) {
                --free_;
                ++parked_;
                work_.wait(lock);
                --parked_;
                ++free_;
                if (waking_ > 0) {
                    --waking_;
                }
            }
            if (messages_.empty()) {
                return;
            }
            std::string message = std::move(messages_.front());
            messages_.pop_front();
            --free_;
            lock.unlock();
            std::string reply = message;  // the toolbox's copy
            lock.lock();
            out_ += reply;
            ++free_;
            replies_.notify_one();
        }
    }

    void Write() {
        std::unique_lock lock(lock_);
        for (;;) {
            replies_.wait(lock, [this] { return !out_.empty() || ended_; });
            if (out_.empty()) {
                return;
            }
            std::string batch;
            batch.swap(out_);
            lock.unlock();
            for (std::size_t done = 0; done < batch.size();) {
                const ssize_t sent =
                    ::send(socket_, batch.data() + done, batch.size() - done, MSG_NOSIGNAL);
                if (sent <= 0) {
                    return;  // the other side went away; the reader sees it too
                }
                done += static_cast<std::size_t>(sent);
            }
            lock.lock();
        }
    }

    const int socket_;
    std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable replies_;
    std::deque<std::string> messages_;
    std::string out_;
    std::vector<std::thread> workers_;
    std::size_t free_ = 0;    // workers not parked and not inside a message
    std::size_t parked_ = 0;  // workers waiting for work_
    std::size_t waking_ = 0;  // parked workers notified that have not run yet
    bool ended_ = false;
};

}  // namespace

void RunHandOffEcho(int socket) {
    HandOffEcho(socket).Run();
}
