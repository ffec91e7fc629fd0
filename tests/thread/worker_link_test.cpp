// The worker pattern with the device link, the simulated device and the
// shared state, without any GUI toolkit, so that ThreadSanitizer sees every
// hand-off: a listing run whose steps reach a stand-in UI thread, a run
// ended early by the window closing, and a run that fails half way.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "exchange.h"
#include "fatdss.h"
#include "globals.h"
#include "loop_dispatcher.h"
#include "platform_support.h"
#include "serial.h"
#include "simulator.h"
#include "tthread.h"

namespace {

using namespace testing_support;

// What the stand-in window shows; touched only on the loop thread.
struct Screen {
    bool buttons = true;
    std::vector<std::string> entries;
    bool logs_usable = false;
    std::vector<std::string> errors;
};

// A listing run as the window's listing worker makes it, with its steps
// writing to a Screen on the loop thread.
class ListingRun : public TThread, public TWorkerSlots {
public:
    ListingRun(Screen& screen, Latch& done, bool fail_after_open)
        : TThread(true), screen_(screen), done_(done), fail_after_open_(fail_after_open) {}

protected:
    void Execute() override {
        const std::string port = selport;
        try {
            Synchronize([this] { screen_.buttons = false; });
            list->Clear();
            Synchronize([this] { screen_.entries.clear(); });
            if (!OpenCom(port)) throw std::runtime_error(OpenComError());
            if (fail_after_open_) throw std::runtime_error("failed half way");
            Sleep(100);
            krx_cmd("md mach\r", 2);
            krx_cmd("fs stop\r", 2);
            Sleep(100);
            if (mlt_cmd("fs list\r", *list, 1) == ExchangeEnd::Stopped) throw EThreadTerminated();
            for (int i = 0; i < list->Count(); ++i) {
                fatdss_t entry;
                xfnd(list->Get(i), &entry);
                SetStr(entry_text(entry.start));
                Synchronize([this] { screen_.entries.push_back(GetStr()); });
            }
            list_state = list->Count() > 0 ? 1 : 0;
            CloseCom();
            Finish();
        } catch (const EThreadTerminated&) {
            CloseCom();
            done_.Open();
        } catch (const std::exception& e) {
            CloseCom();
            SetStr(e.what());
            Synchronize([this] { screen_.errors.push_back(GetStr()); });
            Finish();
        }
    }

private:
    void Finish() {
        Synchronize([this] {
            screen_.buttons = true;
            screen_.logs_usable = list_state != 0;
        });
        done_.Open();
    }

    Screen& screen_;
    Latch& done_;
    bool fail_after_open_;
};

std::vector<krx3sim::Log> Logs(int count, int lines) { return krx3sim::SampleLogs(count, lines); }

class WorkerLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!list) list = new TStringList;
        list->Clear();
        list->SetSorted(true);
        list_state = 0;
        StopExchanges(false);
        TThread::SetDispatcher(&loop_);
    }
    void TearDown() override {
        EXPECT_TRUE(TThread::WaitForAll(std::chrono::milliseconds(5000)));
        TThread::SetDispatcher(nullptr);
        StopExchanges(false);
        EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    }
    // Starts a listing run and waits for its end; false when it did not end.
    bool RunListing(bool fail_after_open) {
        (new ListingRun(screen_, done_, fail_after_open))->Resume();
        return done_.Wait() && TThread::WaitForAll(std::chrono::milliseconds(5000));
    }
    // Reads the screen on its own thread.
    Screen Look() {
        Screen copy;
        Latch seen;
        loop_.Post([&] {
            copy = screen_;
            seen.Open();
        });
        EXPECT_TRUE(seen.Wait());
        return copy;
    }

    LoopDispatcher loop_;
    Screen screen_;
    Latch done_;
};

}  // namespace

TEST_F(WorkerLinkTest, AListingReachesTheScreenThroughItsSteps) {
    krx3sim::Simulator sim(Logs(4, 5));
    selport = sim.PortPath();
    ASSERT_TRUE(RunListing(false));
    const Screen s = Look();
    EXPECT_TRUE(s.buttons);
    EXPECT_TRUE(s.logs_usable);
    ASSERT_EQ(s.entries.size(), 4u);
    EXPECT_TRUE(std::is_sorted(s.entries.begin(), s.entries.end()));
    EXPECT_EQ(list->Count(), 4);
    EXPECT_TRUE(s.errors.empty());
}

TEST_F(WorkerLinkTest, ARunEndedEarlyStopsAtItsNextReadAndClosesThePort) {
    krx3sim::Simulator sim(Logs(200, 5));
    krx3sim::Behaviour slow;
    slow.pause_every_lines = 1;
    slow.pause = std::chrono::milliseconds(20);
    sim.SetBehaviour(slow);
    selport = sim.PortPath();
    auto* run = new ListingRun(screen_, done_, false);
    run->Resume();
    ASSERT_TRUE(sim.WaitForCommands(3, std::chrono::milliseconds(5000)));
    // As the window does when it closes.
    StopExchanges(true);
    TThread::TerminateAll();
    EXPECT_TRUE(TThread::WaitForAll(std::chrono::milliseconds(1000)));
    EXPECT_TRUE(done_.IsOpen());
    EXPECT_FALSE(Look().buttons) << "a stopped run takes no further steps";
    EXPECT_LT(list->Count(), 200);
}

TEST_F(WorkerLinkTest, ARunThatFailsClosesThePortAndReports) {
    krx3sim::Simulator sim(Logs(2, 5));
    selport = sim.PortPath();
    ASSERT_TRUE(RunListing(true));
    const Screen s = Look();
    ASSERT_EQ(s.errors.size(), 1u);
    EXPECT_EQ(s.errors[0], "failed half way");
    EXPECT_TRUE(s.buttons);
    EXPECT_TRUE(sim.Commands().empty());
}

TEST_F(WorkerLinkTest, APortThatCannotBeOpenedIsReportedWithTheReason) {
    selport = MissingPort();
    ASSERT_TRUE(RunListing(false));
    const Screen s = Look();
    ASSERT_EQ(s.errors.size(), 1u);
    EXPECT_NE(s.errors[0].find(MissingPortReason()), std::string::npos) << s.errors[0];
    EXPECT_TRUE(s.buttons);
}
