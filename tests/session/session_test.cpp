// The device conversations as the window's workers and the command line run
// them: on a worker thread, against the simulated device, with the worker's
// own pauses. What the device received, and when, is what it recorded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform_support.h"
#include "serial.h"
#include "session.h"
#include "simulator.h"
#include "tthread.h"

namespace {

using std::chrono::milliseconds;

// One conversation on a worker thread; Stop() ends it as a closing window does.
class Worker : public TThread {
public:
    explicit Worker(std::function<Conversation(const Pause&)> talk) : TThread(true), talk_(std::move(talk)) {
        FreeOnTerminate = false;
    }
    ~Worker() override { Terminate(); }
    // Waits for the end of the run; false when it did not end within `bound`.
    bool Finish(milliseconds bound) {
        const auto until = std::chrono::steady_clock::now() + bound;
        while (!done_.load() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(milliseconds(5));
        return done_.load();
    }
    Conversation result;
    bool stopped = false;

protected:
    void Execute() override {
        try {
            result = talk_([this](int ms) { Sleep(ms); });
        } catch (const EThreadTerminated&) {
            stopped = true;
        }
        done_.store(true);
    }

private:
    std::function<Conversation(const Pause&)> talk_;
    std::atomic<bool> done_{false};
};

std::vector<std::string> Texts(const std::vector<krx3sim::Command>& commands) {
    std::vector<std::string> texts;
    for (const auto& c : commands) texts.push_back(c.text);
    return texts;
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExchangeBounds(DefaultExchangeBounds());
        StopExchanges(false);
    }
    Conversation Talk(std::function<Conversation(const Pause&)> talk) {
        Worker run(std::move(talk));
        run.Resume();
        EXPECT_TRUE(run.Finish(milliseconds(20000)));
        EXPECT_FALSE(run.stopped);
        EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE) << "the port stays open after the conversation";
        return run.result;
    }
    krx3sim::Simulator sim_{krx3sim::SampleLogs(3, 40)};
};

TEST_F(SessionTest, EachConversationSendsItsCommandsWithItsPauses) {
    const std::string port = sim_.PortPath();
    const std::string name = sim_.Logs()[1].start_code;
    struct Case {
        const char* what;
        std::function<Conversation(const Pause&)> talk;
        std::string command;
        milliseconds pause_before;  // from "fs stop" to the command
    } cases[] = {
        {"list", [&](const Pause& p) { return ListLogs(port, p); }, "fs list", milliseconds(100)},
        {"read",
         [&](const Pause& p) {
             return ReadLog(
                 port, name, [](int, std::size_t) {}, p);
         },
         "fs read " + name, milliseconds(0)},
        {"delete", [&](const Pause& p) { return DeleteLog(port, name, p); }, "fs del " + name, milliseconds(500)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        sim_.ClearCommands();
        const Conversation c = Talk(k.talk);
        EXPECT_TRUE(c.Complete());
        EXPECT_TRUE(c.sent);
        EXPECT_GT(c.heard, 0u);
        const auto commands = sim_.Commands();
        ASSERT_EQ(Texts(commands), (std::vector<std::string>{"md mach", "fs stop", k.command}));
        EXPECT_GE(commands[2].arrived - commands[1].arrived, k.pause_before);
    }
}

TEST_F(SessionTest, RepliesComeBackWhole) {
    const auto logs = sim_.Logs();
    const Conversation listed = Talk([&](const Pause& p) { return ListLogs(sim_.PortPath(), p); });
    ASSERT_EQ(listed.reply.Count(), 3);
    EXPECT_EQ(listed.reply.Get(2), logs[2].start_code + " " + logs[2].stop_code);

    int calls = 0;
    const Conversation read = Talk([&](const Pause& p) {
        return ReadLog(
            sim_.PortPath(), logs[0].start_code, [&](int, std::size_t) { ++calls; }, p);
    });
    EXPECT_EQ(read.reply.Lines(), logs[0].lines);
    EXPECT_EQ(calls, 40);

    const Conversation deleted =
        Talk([&](const Pause& p) { return DeleteLog(sim_.PortPath(), logs[0].start_code, p); });
    ASSERT_EQ(deleted.reply.Count(), 1);
    EXPECT_EQ(deleted.reply.Get(0), "ok");
    EXPECT_EQ(sim_.Logs().size(), 2u);
}

TEST_F(SessionTest, FaultsEndTheConversationAndSayHow) {
    const std::string name = sim_.Logs()[0].start_code;
    struct Case {
        const char* what;
        std::function<void(krx3sim::Behaviour&)> behave;
        bool silent;
        ExchangeEnd end;
        std::size_t commands;
    } cases[] = {
        {"a silent device", [](krx3sim::Behaviour& b) { b.silent = true; }, true, ExchangeEnd::Silence, 3},
        {"a hang-up in the log", [](krx3sim::Behaviour& b) { b.close_after_bytes = 200; }, false, ExchangeEnd::LineLost,
         3},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        if (RunningUnderWine() && k.end == ExchangeEnd::LineLost) continue;  // Wine reports no failed read
        krx3sim::Simulator sim(krx3sim::SampleLogs(1, 40));
        krx3sim::Behaviour b = sim.GetBehaviour();
        k.behave(b);
        sim.SetBehaviour(b);
        const Conversation c = Talk([&](const Pause& p) {
            return ReadLog(
                sim.PortPath(), name, [](int, std::size_t) {}, p);
        });
        EXPECT_TRUE(c.opened);
        EXPECT_EQ(c.Silent(), k.silent);
        EXPECT_EQ(c.end, k.end);
        EXPECT_EQ(sim.Commands().size(), k.commands);
        if (!k.silent) {
            EXPECT_LT(c.reply.Count(), 40);
        }
    }
}

TEST_F(SessionTest, APortThatDoesNotOpenIsToldWithTheSystemsReason) {
    const Conversation c = Talk([](const Pause& p) { return ListLogs("/nonexistent/ttyKRX", p); });
    EXPECT_FALSE(c.opened);
    EXPECT_FALSE(c.sent);
    EXPECT_NE(c.open_error.find(OpenComError()), std::string::npos) << c.open_error;
    EXPECT_FALSE(OpenComError().empty());
}

TEST_F(SessionTest, ClosingDuringThePauseBeforeADeleteSendsNoDelete) {
    // Asked before the run: a remote device answers one question at a time.
    const std::string port = sim_.PortPath(), name = sim_.Logs()[0].start_code;
    Worker run([&](const Pause& p) { return DeleteLog(port, name, p); });
    run.Resume();
    ASSERT_TRUE(sim_.WaitForCommands(2, milliseconds(10000)));
    run.Terminate();
    ASSERT_TRUE(run.Finish(milliseconds(10000)));
    EXPECT_TRUE(run.stopped);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_EQ(Texts(sim_.Commands()), (std::vector<std::string>{"md mach", "fs stop"}));
    EXPECT_EQ(sim_.Logs().size(), 3u);
}

}  // namespace
