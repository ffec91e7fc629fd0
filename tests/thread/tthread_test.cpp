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
struct UiQueue : UiDispatcher {
    void Post(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(std::move(task));
        posted.notify_all();
    }
    // Waits for a queued task and, if `run`, runs it; false when none came.
    bool Next(bool run = true) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!posted.wait_for(lock, kBound, [&] { return !tasks.empty(); })) return false;
        if (!run) return true;
        std::function<void()> task = std::move(tasks.front());
        tasks.pop_front();
        lock.unlock();
        task();
        return true;
    }
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> tasks;
};

// A self-deleting worker whose body is a function. Start returns how its run
// ended: "done" or "terminated".
struct Worker : TThread {
    static std::future<std::string> Start(std::function<void(Worker&)> body) {
        auto* worker = new Worker(std::move(body));
        std::future<std::string> end = worker->end.get_future();
        worker->Resume();
        return end;
    }
    explicit Worker(std::function<void(Worker&)> body) : TThread(true), body(std::move(body)) {}
    void Execute() override {
        try {
            body(*this);
            end.set_value("done");
        } catch (const EThreadTerminated&) {
            end.set_value("terminated");
        }
    }
    using TThread::Sleep;
    using TThread::Synchronize;
    std::function<void(Worker&)> body;
    std::promise<std::string> end;
};

// How a run ended, once it has.
std::string Finish(std::future<std::string>& end) {
    return end.wait_for(kBound) == std::future_status::ready ? end.get() : "still running";
}

struct ThreadTest : ::testing::Test {
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
    auto end = Worker::Start([&](Worker& w) {
        for (std::size_t i = 1; i <= 20; ++i) {
            w.Synchronize([&] { ran_on.push_back(std::this_thread::get_id()); });
            EXPECT_EQ(ran_on.size(), i) << "returned before its step";
        }
        EXPECT_THROW(w.Synchronize([] { throw std::logic_error("step failed"); }), std::logic_error);
        w.Synchronize([] { TThread::TerminateAll(); });
        w.Synchronize([] {});  // refused: the run ends "terminated", not "done"
    });
    for (int i = 0; i < 22; ++i) ASSERT_TRUE(ui.Next());
    EXPECT_EQ(Finish(end), "terminated");
    EXPECT_EQ(ran_on, std::vector<std::thread::id>(20, std::this_thread::get_id()));
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
    std::vector<std::future<std::string>> ends;
    for (int i = 0; i < kWorkers; ++i)
        ends.push_back(Worker::Start([&](Worker& w) {
            w.Sleep(1);
            w.Synchronize([] {});
            EXPECT_THROW(w.Sleep(kDay), EThreadTerminated);
            w.Sleep(kDay);
        }));
    for (int i = 0; i < kWorkers; ++i) ASSERT_TRUE(ui.Next());
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
