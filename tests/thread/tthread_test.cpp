#include "tthread.h"
#include "loop_dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr int kDay = 24 * 3600 * 1000;

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
    ~Worker() override { outcome_->destroyed = true; }

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

// Starts a self-deleting worker.
void Start(Outcome* outcome, std::function<void(Worker&)> body)
{
    (new Worker(outcome, std::move(body)))->Resume();
}

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
    void TearDown() override { TThread::SetDispatcher(nullptr); }

    LoopDispatcher dispatcher_;
};

}  // namespace

TEST_F(ThreadTest, StepsRunOnTheUiThreadAndSynchronizeWaitsForThem)
{
    Outcome outcome;
    std::vector<std::string> seen;  // touched only by steps
    std::vector<std::thread::id> step_threads;
    Drain drain;
    Start(&outcome, [&](Worker& w) {
        for (int i = 0; i < 50; ++i) {
            w.SetStr("line " + std::to_string(i));
            w.SetVal(i);
            w.Synchronize([&] {
                seen.push_back(w.GetStr() + "/" + std::to_string(w.GetVal()));
                step_threads.push_back(std::this_thread::get_id());
            });
            if (seen.size() != static_cast<std::size_t>(i + 1)) {
                throw std::runtime_error("Synchronize returned before its step ran");
            }
        }
    });
    ASSERT_TRUE(outcome.finished.Wait());
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(outcome.error, "");
    ASSERT_EQ(seen.size(), 50U);
    EXPECT_EQ(seen[49], "line 49/49");
    for (const auto& id : step_threads) {
        EXPECT_EQ(id, dispatcher_.Id());
    }
}

TEST_F(ThreadTest, StepExceptionIsRethrownInTheWorker)
{
    Outcome outcome;
    std::atomic<bool> after{false};
    Drain drain;
    Start(&outcome, [&](Worker& w) {
        w.Synchronize([] { throw std::runtime_error("step failed"); });
        after = true;
    });
    ASSERT_TRUE(outcome.finished.Wait());
    EXPECT_EQ(outcome.error, "step failed");
    EXPECT_FALSE(after);
}

TEST_F(ThreadTest, TerminateWhileQueuedAbandonsTheStep)
{
    Outcome outcome;
    std::atomic<bool> ran{false};
    dispatcher_.Hold(true);
    Drain drain;
    Start(&outcome, [&](Worker& w) { w.Synchronize([&] { ran = true; }); });
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
    Start(&outcome, [&](Worker& w) {
        w.Synchronize([&] {
            step_started.Open();
            release_step.Wait();
            step_finished = true;
        });
        returned_after_step = step_finished.load();
        w.Synchronize([] {});
    });
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

// Without a dispatcher, or when the dispatcher goes away with the step
// still queued, the step never runs and the worker is released.
TEST_F(ThreadTest, NoDispatcherMeansTerminated)
{
    TThread::SetDispatcher(nullptr);
    Outcome outcome;
    std::atomic<bool> ran{false};
    Drain drain;
    Start(&outcome, [&](Worker& w) { w.Synchronize([&] { ran = true; }); });
    ASSERT_TRUE(outcome.finished.Wait());
    EXPECT_TRUE(outcome.terminated);
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    ASSERT_TRUE(dispatcher_.WaitIdle());
    EXPECT_FALSE(ran);

    Outcome dropped;
    auto dispatcher = std::make_unique<LoopDispatcher>();
    TThread::SetDispatcher(dispatcher.get());
    dispatcher->Hold(true);
    Start(&dropped, [&](Worker& w) { w.Synchronize([&] { ran = true; }); });
    ASSERT_TRUE(dispatcher->WaitPosted(1));
    TThread::SetDispatcher(nullptr);
    dispatcher.reset();
    ASSERT_TRUE(dropped.finished.Wait());
    EXPECT_TRUE(dropped.terminated);
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, CreatedSuspendedRunsOnceAfterResumeAndFreeOnTerminateDeletes)
{
    Outcome idle_outcome, kept_outcome;
    std::atomic<int> runs{0};
    {
        Worker idle(&idle_outcome, [&](Worker&) { ++runs; });
        idle.FreeOnTerminate = false;
        EXPECT_EQ(TThread::RunningCount(), 0);
    }
    EXPECT_TRUE(idle_outcome.destroyed);
    EXPECT_EQ(runs, 0);

    Drain drain;
    Worker kept(&kept_outcome, [&](Worker&) { ++runs; });
    kept.FreeOnTerminate = false;
    kept.Resume();
    kept.Resume();
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(kept_outcome.destroyed);

    // WaitForAll covers the self-delete, not just the run.
    for (int i = 0; i < 20; ++i) {
        Outcome outcome;
        Start(&outcome, [](Worker& w) { w.Synchronize([] {}); });
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
                Sleep(kDay);
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
    delete worker;
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(TThread::RunningCount(), 0);
}

TEST_F(ThreadTest, ExceptionEscapingExecuteIsContained)
{
    struct Throwing : TThread {
        Throwing(std::atomic<int>* gone, bool as_int) : TThread(true), gone_(gone), as_int_(as_int) {}
        ~Throwing() override { ++*gone_; }
        void Execute() override
        {
            if (as_int_) {
                throw 7;
            }
            throw std::logic_error("escaped");
        }
        std::atomic<int>* gone_;
        bool as_int_;
    };
    std::atomic<int> gone{0};
    Drain drain;
    (new Throwing(&gone, false))->Resume();
    (new Throwing(&gone, true))->Resume();
    ASSERT_TRUE(TThread::WaitForAll(kBound));
    EXPECT_EQ(TThread::RunningCount(), 0);
    EXPECT_EQ(gone, 2);
}

TEST_F(ThreadTest, TwoWorkersAtOnceNeverOverlapOnTheUiThread)
{
    std::atomic<int> inside{0}, overlaps{0}, steps{0}, foreign{0};  // foreign: wrong thread or slot
    const auto ui = dispatcher_.Id();
    auto body = [&](Worker& w) {
        for (int i = 0; i < 200; ++i) {
            w.SetVal(i);
            w.Synchronize([&] {
                if (inside.fetch_add(1) != 0) {
                    ++overlaps;
                }
                if (std::this_thread::get_id() != ui || w.GetVal() != i) {
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
    Start(&a, body);
    Start(&b, body);
    ASSERT_TRUE(a.finished.Wait());
    ASSERT_TRUE(b.finished.Wait());
    EXPECT_EQ(a.error + b.error, "");
    EXPECT_EQ(steps, 400);
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(foreign, 0);
}

// Sleep ends early on Terminate; once terminated, Sleep and Synchronize
// throw without waiting or running the step.
TEST_F(ThreadTest, SleepEndsEarlyOnTerminateAndThrowsAtOnceAfterIt)
{
    Outcome outcome;
    Latch sleeping;
    std::atomic<int> thrown{0};
    std::atomic<bool> ran{false};
    Drain drain;
    Start(&outcome, [&](Worker& w) {
        w.Sleep(0);
        w.Sleep(1);
        sleeping.Open();
        for (int i = 0; i < 2; ++i) {
            try {
                w.Sleep(kDay);
            } catch (const EThreadTerminated&) {
                ++thrown;
            }
        }
        w.Synchronize([&] { ran = true; });
    });
    ASSERT_TRUE(sleeping.Wait());
    TThread::TerminateAll();
    ASSERT_TRUE(outcome.finished.Wait());
    EXPECT_EQ(thrown, 2);
    EXPECT_TRUE(outcome.terminated);
    ASSERT_TRUE(dispatcher_.WaitIdle());
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, WaitForAllAndTerminateAllOverManyWorkers)
{
    constexpr int kWorkers = 8;
    Latch all_asleep;
    std::atomic<int> asleep{0};
    std::vector<Outcome> outcomes(kWorkers);
    Drain drain;
    for (auto& outcome : outcomes) {
        Start(&outcome, [&](Worker& w) {
            w.Synchronize([] {});
            if (++asleep == kWorkers) {
                all_asleep.Open();
            }
            w.Sleep(kDay);
        });
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
