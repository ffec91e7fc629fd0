// A stand-in for the UI thread in the worker tests: one loop thread that
// runs posted tasks in order, and a latch; every wait has a bound.
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

// Posted tasks run in order on one loop thread, unless it is held: then they
// stay queued. Tasks still queued at the end are dropped unrun, as a
// toolkit drops its queue on the way out.
class LoopDispatcher : public UiDispatcher {
public:
    LoopDispatcher() : loop_([this] { Loop(); }) {}
    ~LoopDispatcher() override {
        Set([this] { stop_ = true; });
        loop_.join();
    }
    void Post(std::function<void()> task) override {
        Set([&] {
            queue_.push_back(std::move(task));
            ++posted_;
        });
    }
    void Hold(bool held) {
        Set([&] { held_ = held; });
    }
    bool WaitPosted(int count) {
        return WaitFor([&] { return posted_ >= count; });
    }
    bool WaitIdle() {
        return WaitFor([&] { return queue_.empty() && !busy_; });
    }
    std::thread::id Id() const { return loop_.get_id(); }

private:
    template <class F>
    void Set(F change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change();
        changed_.notify_all();
    }
    template <class P>
    bool WaitFor(P done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kBound, done);
    }
    void Loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || (!held_ && !queue_.empty()); });
            if (stop_) return;
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
    bool held_ = false, stop_ = false, busy_ = false;
    int posted_ = 0;
    std::thread loop_;
};

// A one-shot latch for handing "it happened" between threads. Open notifies
// under the lock: the waiter may destroy the latch once it has it back.
class Latch {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] { return open_; });
    }
    bool IsOpen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return open_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

}  // namespace testing_support
