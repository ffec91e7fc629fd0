// The worker class, with the test's own thread as the UI thread.
#include "ui/thread/tthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <future>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 10s;  // every wait has one
constexpr int kDay = 24 * 3600 * 1000;

// Posted tasks wait until the test's thread runs them; those still queued
// when it goes are dropped unrun, as a toolkit drops its queue on the way out.
class UiQueue : public UiDispatcher {
public:
    void Post(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        posted_.notify_all();
    }
    // Waits for a queued task and, if `run`, runs it; false when none came.
    bool Next(bool run = true) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!posted_.wait_for(lock, kBound, [&] { return !tasks_.empty(); })) return false;
        if (!run) return true;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

// A self-deleting worker whose body is a function. Start returns how its run
// ended: "done", "terminated" or the error's text.
class Worker : public TThread {
public:
    static std::future<std::string> Start(std::function<void(Worker&)> body) {
        auto* worker = new Worker(std::move(body));
        std::future<std::string> end = worker->end_.get_future();
        worker->Resume();
        return end;
    }
    using TThread::Sleep;
    using TThread::Synchronize;

private:
    explicit Worker(std::function<void(Worker&)> body) : TThread(true), body_(std::move(body)) {}
    void Execute() override {
        try {
            body_(*this);
            end_.set_value("done");
        } catch (const EThreadTerminated&) {
            end_.set_value("terminated");
        } catch (const std::exception& e) {
            end_.set_value(e.what());
        }
    }
    std::function<void(Worker&)> body_;
    std::promise<std::string> end_;
};

// How a run ended, once it has.
std::string Finish(std::future<std::string>& end) {
    return end.wait_for(kBound) == std::future_status::ready ? end.get() : "still running";
}

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { TThread::SetDispatcher(&ui); }
    void TearDown() override {
        TThread::TerminateAll();
        EXPECT_TRUE(TThread::WaitForAll(kBound));
        TThread::SetDispatcher(nullptr);
    }
    UiQueue ui;
};

}  // namespace

// Each step runs on the UI thread and Synchronize returns once it has run,
// throwing again what the step threw. Terminate during a step lets the step
// finish and refuses the next one.
TEST_F(ThreadTest, SynchronizeRunsEachStepOnTheUiThreadAndWaitsForIt) {
    std::vector<std::thread::id> ran_on;
    std::string error;
    auto end = Worker::Start([&](Worker& w) {
        for (std::size_t i = 1; i <= 20; ++i) {
            w.Synchronize([&] { ran_on.push_back(std::this_thread::get_id()); });
            if (ran_on.size() != i) throw std::runtime_error("returned before its step");
        }
        try {
            w.Synchronize([] { throw std::runtime_error("step failed"); });
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        w.Synchronize([] {
            TThread::TerminateAll();
            EXPECT_EQ(TThread::RunningCount(), 1);
        });
        w.Synchronize([] { ADD_FAILURE() << "a step ran after Terminate"; });
    });
    for (int i = 0; i < 22; ++i) ASSERT_TRUE(ui.Next());
    EXPECT_EQ(Finish(end), "terminated");
    EXPECT_EQ(ran_on, std::vector<std::thread::id>(20, std::this_thread::get_id()));
    EXPECT_EQ(error, "step failed");
}

// A step that cannot run is never run and its worker unwinds: the worker was
// terminated with the step queued (0), there is no dispatcher (1), or the
// dispatcher went away with the step queued (2).
TEST_F(ThreadTest, AStepThatCannotRunIsNeverRun) {
    for (int how = 0; how < 3; ++how) {
        auto own = std::make_unique<UiQueue>();
        TThread::SetDispatcher(how == 0 ? &ui : how == 1 ? nullptr : own.get());
        bool ran = false;
        auto end = Worker::Start([&](Worker& w) { w.Synchronize([&] { ran = true; }); });
        ASSERT_TRUE(how == 1 || (how == 0 ? ui : *own).Next(false));
        if (how == 0) TThread::TerminateAll();
        if (how == 2) TThread::SetDispatcher(nullptr);
        own.reset();
        EXPECT_EQ(Finish(end), "terminated") << how;
        EXPECT_TRUE(how != 0 || ui.Next());  // the abandoned step is let go
        EXPECT_FALSE(ran) << how;
        TThread::SetDispatcher(&ui);
    }
}

// TerminateAll reaches every worker: a Sleep ends early, and so does every
// one after it.
TEST_F(ThreadTest, TerminateAllWakesEverySleeper) {
    constexpr int kWorkers = 8;
    std::atomic<int> asleep{0};
    std::promise<void> all_asleep;
    std::future<void> asleep_now = all_asleep.get_future();
    std::vector<std::future<std::string>> ends;
    for (int i = 0; i < kWorkers; ++i) {
        ends.push_back(Worker::Start([&](Worker& w) {
            w.Sleep(1);
            if (++asleep == kWorkers) all_asleep.set_value();
            try {
                w.Sleep(kDay);
            } catch (const EThreadTerminated&) {
                w.Sleep(kDay);
            }
        }));
    }
    ASSERT_EQ(asleep_now.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(TThread::RunningCount(), kWorkers);
    EXPECT_FALSE(TThread::WaitForAll(1ms));
    TThread::TerminateAll();
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    for (auto& end : ends) EXPECT_EQ(end.get(), "terminated");
}

// A kept worker runs once however often resumed, and its destructor ends a
// run still going and waits for it. Whatever escapes Execute, even what is no
// std::exception, is contained.
TEST_F(ThreadTest, KeptWorkersAndEscapingExceptions) {
    static std::atomic<int> runs{0};
    static std::promise<void> in_run;
    struct Kept : TThread {
        Kept() : TThread(true) { FreeOnTerminate = false; }
        void Execute() override {  // only statics: delete destroys the Kept members first
            ++runs;
            in_run.set_value();
            Sleep(kDay);  // until the destructor's Terminate
        }
    };
    runs = 0;
    in_run = std::promise<void>();
    auto* kept = new Kept;
    std::future<void> running = in_run.get_future();
    kept->Resume();
    kept->Resume();
    ASSERT_EQ(running.wait_for(kBound), std::future_status::ready);
    delete kept;
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(TThread::RunningCount(), 0);

    // Not caught by the worker's body: its promise is broken when it is deleted.
    auto end = Worker::Start([](Worker&) { throw 7; });
    EXPECT_THROW(Finish(end), std::future_error);
}
