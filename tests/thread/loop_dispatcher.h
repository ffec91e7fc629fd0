// A stand-in for the UI thread in the worker tests: one loop thread that
// runs posted tasks in order, and small waiting helpers with a bound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "tthread.h"

namespace testing_support {

using namespace std::chrono_literals;

constexpr auto kBound = 10s;

// Waits for `done` to hold, polling, at most kBound.
template <class Pred>
bool eventually(Pred done)
{
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A stand-in for the UI thread: one loop thread running posted tasks in
// order. It can be held, so that posted tasks stay queued.
class LoopDispatcher : public UiDispatcher {
public:
    LoopDispatcher() : loop_([this] { Loop(); }) {}
    ~LoopDispatcher() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        loop_.join();
    }

    void Post(std::function<void()> task) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(task));
        ++posted_;
        changed_.notify_all();
    }

    void Hold(bool held)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            held_ = held;
        }
        changed_.notify_all();
    }

    bool WaitPosted(int count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] { return posted_ >= count; });
    }

    bool WaitIdle()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] { return queue_.empty() && !busy_; });
    }

    std::thread::id Id() const { return loop_.get_id(); }

private:
    void Loop()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || (!held_ && !queue_.empty()); });
            if (stop_) {
                // Dropped unrun, as a toolkit drops its queue on the way out.
                queue_.clear();
                return;
            }
            std::function<void()> task = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    bool held_ = false;
    bool stop_ = false;
    bool busy_ = false;
    int posted_ = 0;
    std::thread loop_;
};

// A one-shot latch for handing "it happened" between threads.
class Latch {
public:
    // Notifies under the lock: the waiter may destroy the latch as soon as
    // it gets the lock back.
    void Open()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool Wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] { return open_; });
    }
    bool IsOpen()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return open_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

}  // namespace testing_support
