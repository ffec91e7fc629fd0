#include "tthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A stand-in for the UI thread: one loop thread that runs posted tasks in
// order, and a latch; every wait has a bound.
constexpr auto kBound = 10s;
constexpr int kDay = 24 * 3600 * 1000;

// State shared between threads: changed under the lock, which also covers
// the notify, so that a waiter may destroy the object once it has it back.
class Guarded {
protected:
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
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Posted tasks run in order on one loop thread, unless it is held: then they
// stay queued. Tasks still queued at the end are dropped unrun, as a
// toolkit drops its queue on the way out.
class LoopDispatcher : public UiDispatcher, Guarded {
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

    std::deque<std::function<void()>> queue_;
    bool held_ = false, stop_ = false, busy_ = false;
    int posted_ = 0;
    std::thread loop_;
};

// A one-shot latch for handing "it happened" between threads.
class Latch : Guarded {
public:
    void Open() {
        Set([&] { open_ = true; });
    }
    bool Wait() {
        return WaitFor([&] { return open_; });
    }

private:
    bool open_ = false;
};

// A self-deleting worker whose body is a function; it records how its run
// ended: "done", "terminated" or the error's text.
class Worker : public TThread, public TWorkerSlots {
public:
    Worker(std::function<void(Worker&)> body, std::string* end, Latch* finished)
        : TThread(true), body_(std::move(body)), end_(end), finished_(finished) {
        ++alive;
    }
    ~Worker() override { --alive; }
    static inline std::atomic<int> alive{0};
    using TThread::Sleep;
    using TThread::Synchronize;

protected:
    void Execute() override {
        try {
            body_(*this);
            *end_ = "done";
        } catch (const EThreadTerminated&) {
            *end_ = "terminated";
        } catch (const std::exception& e) {
            *end_ = e.what();
        }
        finished_->Open();
    }

private:
    std::function<void(Worker&)> body_;
    std::string* end_;
    Latch* finished_;
};

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { TThread::SetDispatcher(&dispatcher_); }
    void TearDown() override {
        TThread::TerminateAll();
        EXPECT_TRUE(TThread::WaitForAll(kBound));
        TThread::SetDispatcher(nullptr);
        EXPECT_EQ(Worker::alive, 0) << "a worker was not deleted";
    }
    // Runs `body` on a new worker and returns how it ended.
    std::string Run(
        std::function<void(Worker&)> body, const std::function<void()>& meanwhile = [] {}) {
        std::string end;
        Latch finished;
        (new Worker(std::move(body), &end, &finished))->Resume();
        meanwhile();
        EXPECT_TRUE(finished.Wait());
        EXPECT_TRUE(TThread::WaitForAll(kBound));  // the self-delete included
        return end;
    }
    LoopDispatcher dispatcher_;
};

}  // namespace

// Each step runs on the UI thread and Synchronize returns after it; a step's
// exception is thrown again in the worker.
TEST_F(ThreadTest, StepsRunOnTheUiThreadAndSynchronizeWaitsForThem) {
    std::vector<std::string> seen;
    EXPECT_EQ(
        Run([&](Worker& w) {
            for (int i = 0; i < 50; ++i) {
                w.SetStr("line " + std::to_string(i));
                w.Synchronize([&] {
                    seen.push_back(w.GetStr() + (std::this_thread::get_id() == dispatcher_.Id() ? "" : " elsewhere"));
                });
                if (seen.size() != static_cast<std::size_t>(i + 1))
                    throw std::runtime_error("returned before its step");
            }
            w.Synchronize([] { throw std::runtime_error("step failed"); });
        }),
        "step failed");
    ASSERT_EQ(seen.size(), 50U);
    EXPECT_EQ(seen[49], "line 49");
}

// A step that cannot run, because the worker was terminated while it was
// queued, because there is no dispatcher, or because the dispatcher went
// away with it queued, is never run and the worker unwinds.
TEST_F(ThreadTest, AStepThatCannotRunIsAbandoned) {
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        auto own = std::make_unique<LoopDispatcher>();
        LoopDispatcher& d = how == 2 ? *own : dispatcher_;
        TThread::SetDispatcher(how == 1 ? nullptr : &d);
        d.Hold(true);
        std::atomic<bool> ran{false};
        EXPECT_EQ(Run([&](Worker& w) { w.Synchronize([&] { ran = true; }); },
                      [&] {
                          if (how == 1) return;
                          ASSERT_TRUE(d.WaitPosted(1));
                          if (how == 0) TThread::TerminateAll();
                          if (how == 2) TThread::SetDispatcher(nullptr), own.reset();
                      }),
                  "terminated");
        dispatcher_.Hold(false);
        ASSERT_TRUE(dispatcher_.WaitIdle());
        EXPECT_FALSE(ran);
        TThread::SetDispatcher(&dispatcher_);
    }
}

// TerminateAll during a step lets the step finish; the next one is refused.
TEST_F(ThreadTest, TerminateWhileRunningWaitsForTheStep) {
    Latch step_started, release_step;
    std::atomic<bool> step_finished{false}, returned_after_step{false};
    EXPECT_EQ(Run(
                  [&](Worker& w) {
                      w.Synchronize([&] {
                          step_started.Open();
                          release_step.Wait();
                          step_finished = true;
                      });
                      returned_after_step = step_finished.load();
                      w.Synchronize([] {});
                  },
                  [&] {
                      ASSERT_TRUE(step_started.Wait());
                      TThread::TerminateAll();
                      EXPECT_EQ(TThread::RunningCount(), 1);
                      release_step.Open();
                  }),
              "terminated");
    EXPECT_TRUE(returned_after_step);
}

// Sleep ends early on TerminateAll, for every sleeper; after it, Sleep and
// Synchronize throw at once.
TEST_F(ThreadTest, TerminateAllWakesEverySleeper) {
    constexpr int kWorkers = 8;
    std::atomic<int> asleep{0}, thrown{0};
    Latch all_asleep;
    std::vector<std::string> ends(kWorkers);
    std::vector<Latch> finished(kWorkers);
    for (int i = 0; i < kWorkers; ++i) {
        (new Worker(
             [&](Worker& w) {
                 w.Sleep(1);
                 if (++asleep == kWorkers) all_asleep.Open();
                 try {
                     w.Sleep(kDay);
                 } catch (const EThreadTerminated&) {
                     ++thrown;
                 }
                 w.Sleep(kDay);
             },
             &ends[static_cast<std::size_t>(i)], &finished[static_cast<std::size_t>(i)]))
            ->Resume();
    }
    ASSERT_TRUE(all_asleep.Wait());
    EXPECT_EQ(TThread::RunningCount(), kWorkers);
    EXPECT_FALSE(TThread::WaitForAll(1ms));
    TThread::TerminateAll();
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(thrown, kWorkers);
    EXPECT_EQ(ends, std::vector<std::string>(kWorkers, "terminated"));
}

// A kept worker runs once however often resumed; its destructor
// terminates a run still going and waits for it. An exception of any kind
// (even one not derived from std::exception) escaping Execute is contained.
TEST_F(ThreadTest, KeptWorkersAndEscapingExceptions) {
    // Only locals once the owner may be deleting it: its destructor waits
    // for the run, but the derived part is already gone.
    struct Kept : TThread {
        Kept(Latch* in_run, std::atomic<int>* runs) : TThread(true), in_run_(in_run), runs_(runs) {}
        void Execute() override {
            std::atomic<int>* runs = runs_;
            ++*runs;
            in_run_->Open();
            try {
                Sleep(kDay);
            } catch (const EThreadTerminated&) {
                *runs += 10;
            }
        }
        Latch* in_run_;
        std::atomic<int>* runs_;
    };
    Latch in_run;
    std::atomic<int> runs{0};
    delete new Kept(&in_run, &runs);  // never resumed: never run
    auto* kept = new Kept(&in_run, &runs);
    kept->FreeOnTerminate = false;
    kept->Resume();
    kept->Resume();
    ASSERT_TRUE(in_run.Wait());
    delete kept;
    EXPECT_EQ(runs, 11) << "one run, ended by the destructor's terminate";
    EXPECT_EQ(TThread::RunningCount(), 0);

    struct Throwing : TThread {
        Throwing() : TThread(true) {}
        void Execute() override { throw 7; }
    };
    (new Throwing)->Resume();
    EXPECT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(TThread::RunningCount(), 0);
}
