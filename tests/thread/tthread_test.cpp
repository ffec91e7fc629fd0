#include "tthread.h"
#include "loop_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace testing_support;


// What a worker's run ended with, read after the run.
struct Outcome {
    Latch finished;
    std::atomic<bool> terminated{false};
    std::atomic<bool> destroyed{false};
    std::string error;
    std::mutex mutex;
};

// A worker whose body is a function; it records how its run ended.
class Worker : public TThread, public TWorkerSlots {
public:
    Worker(Outcome* outcome, std::function<void(Worker&)> body)
        : TThread(true), outcome_(outcome), body_(std::move(body))
    {
    }
    ~Worker() override
    {
        if (outcome_ != nullptr) {
            outcome_->destroyed = true;
        }
    }

    using TThread::Sleep;
    using TThread::Synchronize;

protected:
    void Execute() override
    {
        try {
            body_(*this);
        } catch (const EThreadTerminated&) {
            outcome_->terminated = true;
        } catch (const std::exception& e) {
            std::lock_guard<std::mutex> lock(outcome_->mutex);
            outcome_->error = e.what();
        }
        outcome_->finished.Open();
    }

private:
    Outcome* outcome_;
    std::function<void(Worker&)> body_;
};

// Declared after the objects a test's workers use, so that it runs first
// when the test ends, however it ends: no worker outlives what it uses.
struct Drain {
    ~Drain()
    {
        TThread::TerminateAll();
        EXPECT_TRUE(TThread::WaitForAll(kBound));
    }
};

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { TThread::SetDispatcher(&dispatcher_); }
    void TearDown() override
    {
        TThread::TerminateAll();
        EXPECT_TRUE(TThread::WaitForAll(kBound));
        TThread::SetDispatcher(nullptr);
    }

    LoopDispatcher dispatcher_;
};

}  // namespace

TEST_F(ThreadTest, StepsRunOnTheUiThreadAndSynchronizeWaitsForThem)
{
    Outcome outcome;
    std::vector<std::string> seen;  // touched only by steps
    std::vector<std::thread::id> step_threads;
    Drain drain;
    auto* worker = new Worker(&outcome, [&](Worker& w) {
        for (int i = 0; i < 50; ++i) {
            w.SetStr("line " + std::to_string(i));
            w.SetVal(i);
            w.Synchronize([&] {
                seen.push_back(w.GetStr() + "/" + std::to_string(w.GetVal()));
                step_threads.push_back(std::this_thread::get_id());
            });
            // The step has finished: its effect is visible here.
            if (seen.size() != static_cast<std::size_t>(i + 1)) {
                throw std::runtime_error("Synchronize returned before its step ran");
            }
        }
    });
    worker->Resume();
    ASSERT_TRUE(outcome.finished.Wait());
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(outcome.error, "");
    EXPECT_FALSE(outcome.terminated);
    ASSERT_EQ(seen.size(), 50U);
    EXPECT_EQ(seen[0], "line 0/0");
    EXPECT_EQ(seen[49], "line 49/49");
    for (const auto& id : step_threads) {
        EXPECT_EQ(id, dispatcher_.Id());
    }
}

TEST_F(ThreadTest, MemberStepsThroughThePointerOverload)
{
    struct Member : TThread, TWorkerSlots {
        Member() : TThread(true) {}
        void Step() { Val = Val * 2 + (std::this_thread::get_id() == ui ? 1 : 0); }
        void Execute() override
        {
            Val = 20;
            Synchronize(&Member::Step);
            result = Val;
            done.Open();
        }
        std::thread::id ui;
        int result = 0;
        Latch done;
    };
    Member worker;
    worker.FreeOnTerminate = false;
    worker.ui = dispatcher_.Id();
    worker.Resume();
    ASSERT_TRUE(worker.done.Wait());
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(worker.result, 41);
}

TEST_F(ThreadTest, StepExceptionIsRethrownInTheWorker)
{
    Outcome outcome;
    std::atomic<bool> after{false};
    Drain drain;
    auto* worker = new Worker(&outcome, [&](Worker& w) {
        w.Synchronize([] { throw std::runtime_error("step failed"); });
        after = true;
    });
    worker->Resume();
    ASSERT_TRUE(outcome.finished.Wait());
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(outcome.error, "step failed");
    EXPECT_FALSE(after);
}

TEST_F(ThreadTest, TerminateWhileQueuedAbandonsTheStep)
{
    Outcome outcome;
    std::atomic<bool> ran{false};
    dispatcher_.Hold(true);
    Drain drain;
    auto* worker = new Worker(&outcome, [&](Worker& w) { w.Synchronize([&] { ran = true; }); });
    worker->Resume();
    ASSERT_TRUE(dispatcher_.WaitPosted(1));
    TThread::TerminateAll();
    ASSERT_TRUE(outcome.finished.Wait());
    EXPECT_TRUE(outcome.terminated);
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_TRUE(outcome.destroyed);

    dispatcher_.Hold(false);
    ASSERT_TRUE(dispatcher_.WaitIdle());
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, TerminateWhileRunningWaitsForTheStep)
{
    Outcome outcome;
    Latch step_started, release_step;
    std::atomic<bool> step_finished{false};
    std::atomic<bool> returned_after_step{false};
    Drain drain;
    auto* worker = new Worker(&outcome, [&](Worker& w) {
        w.Synchronize([&] {
            step_started.Open();
            release_step.Wait();
            step_finished = true;
        });
        returned_after_step = step_finished.load();
        w.Synchronize([] {});
    });
    worker->Resume();
    ASSERT_TRUE(step_started.Wait());
    TThread::TerminateAll();
    EXPECT_EQ(TThread::RunningCount(), 1);
    EXPECT_FALSE(outcome.finished.IsOpen());
    release_step.Open();
    ASSERT_TRUE(outcome.finished.Wait());
    EXPECT_TRUE(returned_after_step);
    // The next step is refused.
    EXPECT_TRUE(outcome.terminated);
}

TEST_F(ThreadTest, NoDispatcherMeansTerminated)
{
    TThread::SetDispatcher(nullptr);
    Outcome outcome;
    std::atomic<bool> ran{false};
    Drain drain;
    auto* worker = new Worker(&outcome, [&](Worker& w) { w.Synchronize([&] { ran = true; }); });
    worker->Resume();
    ASSERT_TRUE(outcome.finished.Wait());
    EXPECT_TRUE(outcome.terminated);
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    ASSERT_TRUE(dispatcher_.WaitIdle());
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, DispatcherDroppingATaskReleasesTheWorker)
{
    Outcome outcome;
    auto dispatcher = std::make_unique<LoopDispatcher>();
    TThread::SetDispatcher(dispatcher.get());
    dispatcher->Hold(true);
    Drain drain;
    auto* worker = new Worker(&outcome, [](Worker& w) { w.Synchronize([] {}); });
    worker->Resume();
    ASSERT_TRUE(dispatcher->WaitPosted(1));
    TThread::SetDispatcher(nullptr);
    dispatcher.reset();
    ASSERT_TRUE(outcome.finished.Wait());
    EXPECT_TRUE(outcome.terminated);
}

TEST_F(ThreadTest, CreatedSuspendedRunsOnlyAfterResume)
{
    Outcome outcome;
    std::atomic<int> runs{0};
    {
        Worker idle(&outcome, [&](Worker&) { ++runs; });
        idle.FreeOnTerminate = false;
        EXPECT_EQ(TThread::RunningCount(), 0);
    }
    EXPECT_TRUE(outcome.destroyed);
    EXPECT_EQ(runs, 0);

    Outcome second;
    Drain drain;
    Worker kept(&second, [&](Worker&) { ++runs; });
    kept.FreeOnTerminate = false;
    kept.Resume();
    kept.Resume();
    ASSERT_TRUE(second.finished.Wait());
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(second.destroyed);
}

TEST_F(ThreadTest, FreeOnTerminateDeletesAndWaitForAllCoversTheDelete)
{
    for (int i = 0; i < 20; ++i) {
        Outcome outcome;
        Drain drain;
        auto* worker = new Worker(&outcome, [](Worker& w) { w.Synchronize([] {}); });
        worker->Resume();
        ASSERT_TRUE(TThread::WaitForAll(kBound));
        EXPECT_TRUE(outcome.destroyed);
        EXPECT_EQ(TThread::RunningCount(), 0);
    }
}

TEST_F(ThreadTest, KeptWorkerIsTerminatedAndWaitedForByItsDestructor)
{
    struct Kept : TThread {
        Kept(Latch* in_run, std::atomic<int>* ended) : TThread(true), in_run_(in_run), ended_(ended) {}
        void Execute() override
        {
            // Only locals after the latch: the derived part is being
            // destroyed while the run ends.
            std::atomic<int>* ended = ended_;
            in_run_->Open();
            try {
                Sleep(24 * 3600 * 1000);
                *ended = 1;
            } catch (const EThreadTerminated&) {
                *ended = 2;
            }
        }
        Latch* in_run_;
        std::atomic<int>* ended_;
    };
    Latch in_run;
    std::atomic<int> ended{0};
    Drain drain;
    auto* worker = new Kept(&in_run, &ended);
    worker->FreeOnTerminate = false;
    worker->Resume();
    ASSERT_TRUE(in_run.Wait());
    EXPECT_EQ(TThread::RunningCount(), 1);
    delete worker;
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(TThread::RunningCount(), 0);
}

TEST_F(ThreadTest, ExceptionEscapingExecuteIsContained)
{
    struct Throwing : TThread {
        explicit Throwing(std::atomic<bool>* gone) : TThread(true), gone_(gone) {}
        ~Throwing() override { *gone_ = true; }
        void Execute() override { throw std::logic_error("escaped"); }
        std::atomic<bool>* gone_;
    };
    std::atomic<bool> gone{false};
    Drain drain;
    (new Throwing(&gone))->Resume();
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(TThread::RunningCount(), 0);
    EXPECT_TRUE(gone);

    struct ThrowingInt : TThread {
        ThrowingInt() : TThread(true) {}
        void Execute() override { throw 7; }
    };
    (new ThrowingInt)->Resume();
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(TThread::RunningCount(), 0);
}

TEST_F(ThreadTest, TwoWorkersAtOnceNeverOverlapOnTheUiThread)
{
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> steps{0};
    std::atomic<int> foreign{0};
    const auto ui = dispatcher_.Id();
    auto body = [&](Worker& w) {
        for (int i = 0; i < 200; ++i) {
            w.SetVal(i);
            w.Synchronize([&] {
                if (inside.fetch_add(1) != 0) {
                    ++overlaps;
                }
                if (std::this_thread::get_id() != ui) {
                    ++foreign;
                }
                if (w.GetVal() != i) {
                    ++foreign;
                }
                std::this_thread::yield();
                ++steps;
                inside.fetch_sub(1);
            });
        }
    };
    Outcome a, b;
    Drain drain;
    auto* first = new Worker(&a, body);
    auto* second = new Worker(&b, body);
    first->Resume();
    second->Resume();
    ASSERT_TRUE(a.finished.Wait());
    ASSERT_TRUE(b.finished.Wait());
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(a.error + b.error, "");
    EXPECT_EQ(steps, 400);
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(foreign, 0);
}

TEST_F(ThreadTest, SleepEndsEarlyOnTerminate)
{
    Outcome outcome;
    Latch sleeping;
    Drain drain;
    auto* worker = new Worker(&outcome, [&](Worker& w) {
        w.Sleep(0);
        w.Sleep(1);
        sleeping.Open();
        w.Sleep(24 * 3600 * 1000);
    });
    worker->Resume();
    ASSERT_TRUE(sleeping.Wait());
    TThread::TerminateAll();
    ASSERT_TRUE(outcome.finished.Wait());
    EXPECT_TRUE(outcome.terminated);
    EXPECT_TRUE(TThread::WaitForAll(kBound));
}

TEST_F(ThreadTest, SleepAndSynchronizeAfterTerminateThrowAtOnce)
{
    struct Probe : TThread {
        Probe() : TThread(true) {}
        void Execute() override {}
        int Count()
        {
            int thrown = 0;
            try {
                Sleep(24 * 3600 * 1000);
            } catch (const EThreadTerminated&) {
                ++thrown;
            }
            try {
                Synchronize([] {});
            } catch (const EThreadTerminated&) {
                ++thrown;
            }
            return thrown;
        }
    };
    Probe probe;
    probe.FreeOnTerminate = false;
    EXPECT_FALSE(probe.Terminated());
    probe.Terminate();
    EXPECT_TRUE(probe.Terminated());
    EXPECT_EQ(probe.Count(), 2);
    ASSERT_TRUE(dispatcher_.WaitIdle());
}

TEST_F(ThreadTest, WaitForAllAndTerminateAllOverManyWorkers)
{
    constexpr int kWorkers = 8;
    Latch all_asleep;
    std::atomic<int> asleep{0};
    std::vector<Outcome> outcomes(kWorkers);
    Drain drain;
    for (auto& outcome : outcomes) {
        (new Worker(&outcome, [&](Worker& w) {
            w.Synchronize([] {});
            if (++asleep == kWorkers) {
                all_asleep.Open();
            }
            w.Sleep(24 * 3600 * 1000);
        }))->Resume();
    }
    ASSERT_TRUE(all_asleep.Wait());
    EXPECT_EQ(TThread::RunningCount(), kWorkers);
    EXPECT_FALSE(TThread::WaitForAll(1ms));
    TThread::TerminateAll();
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    for (auto& outcome : outcomes) {
        EXPECT_TRUE(outcome.terminated);
        EXPECT_TRUE(outcome.destroyed);
    }
}

TEST_F(ThreadTest, SwitchingTheDispatcherWhileWorkersPost)
{
    constexpr int kWorkers = 4;
    constexpr int kSteps = 200;
    std::atomic<int> done{0};
    std::atomic<int> completed{0};
    std::atomic<int> refused{0};
    std::vector<Outcome> outcomes(kWorkers);
    Drain drain;
    for (auto& outcome : outcomes) {
        (new Worker(&outcome, [&](Worker& w) {
            try {
                for (int i = 0; i < kSteps; ++i) {
                    w.Synchronize([&] { ++done; });
                }
                ++completed;
            } catch (const EThreadTerminated&) {
                ++refused;
                throw;
            }
        }))->Resume();
    }
    ASSERT_TRUE(eventually([&] { return done.load() > 0; }));
    {
        LoopDispatcher other;
        TThread::SetDispatcher(&other);
        ASSERT_TRUE(eventually([&] { return done.load() > kSteps / 2 || completed.load() == kWorkers; }));
        TThread::SetDispatcher(nullptr);
    }
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    // Every run ended one way or the other, and no step ran twice.
    EXPECT_EQ(completed + refused, kWorkers);
    EXPECT_LE(done, kWorkers * kSteps);
    EXPECT_GE(done, completed * kSteps);
}
