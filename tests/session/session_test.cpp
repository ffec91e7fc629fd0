// The device conversations against the simulated device, on a worker thread
// as the window runs them, and what the user is told when Linux refuses a
// port. What the device received, and when, is what it recorded.
#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform_support.h"
#include "serial.h"
#include "session.h"
#include "simulator.h"
#include "tthread.h"

#if defined(__linux__)
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

// One conversation on a worker thread, as the window runs it.
class Run : public TThread {
public:
    explicit Run(const std::function<Conversation()>& talk) : TThread(true), talk_(talk) { FreeOnTerminate = false; }
    Conversation result;
    std::exception_ptr error;

protected:
    void Execute() override {
        try {
            result = talk_();
        } catch (...) {
            error = std::current_exception();
        }
    }
    std::function<Conversation()> talk_;
};

// Runs one conversation; the port is closed after it, however it ended.
Conversation Converse(const std::function<Conversation()>& talk) {
    SetExchangeBounds(DefaultExchangeBounds());
    StopExchanges(false);
    Run run(talk);
    run.Resume();
    EXPECT_TRUE(TThread::WaitForAll(std::chrono::seconds(20)));
    if (run.error) std::rethrow_exception(run.error);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE) << "the port stays open after the conversation";
    return run.result;
}

// Each pause is noted with the number of commands the device had by then.
TEST(Session, EachConversationSendsItsCommandsWithItsPausesOrEndsAtAFault) {
    krx3sim::Simulator sim(krx3sim::SampleLogs(3, 40));
    const auto logs = sim.Logs();
    const std::string port = sim.PortPath(), name = logs[1].start_code;
    std::string pauses;
    const Pause noted = [&](int ms) {
        pauses += std::to_string(sim.Commands().size()) + ":" + std::to_string(ms) + " ";
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    std::vector<std::string> listing;
    for (const auto& log : logs) listing.push_back(log.start_code + " " + log.stop_code);
    int calls = 0;
    const Progress count = [&](int, std::size_t) { ++calls; };
    // The conversation, its command, its pauses (the last one the least time
    // from "fs stop" to the command), and the reply.
    const std::tuple<std::function<Conversation()>, std::string, std::string, int, std::vector<std::string>> cases[] = {
        {[&] { return ListLogs(port, noted); }, "fs list", "0:100 2:100 ", 100, listing},
        {[&] { return ReadLog(port, name, count, noted); }, "fs read " + name, "0:100 ", 0, logs[1].lines},
        {[&] { return DeleteLog(port, name, noted); }, "fs del " + name, "2:500 ", 500, {"ok"}},
    };
    for (const auto& [talk, command, paused, gap, reply] : cases) {
        SCOPED_TRACE(command);
        sim.ClearCommands();
        pauses.clear();
        const Conversation c = Converse(talk);
        EXPECT_TRUE(c.Complete() && c.sent && c.heard > 0u);
        EXPECT_EQ(c.reply.Lines(), reply);
        EXPECT_EQ(pauses, paused);
        const auto commands = sim.Commands();
        ASSERT_EQ(commands.size(), 3u);
        EXPECT_EQ(commands[0].text + ", " + commands[1].text + ", " + commands[2].text, "md mach, fs stop, " + command);
        EXPECT_GE(commands[2].arrived - commands[1].arrived, std::chrono::milliseconds(gap));
    }
    EXPECT_EQ(calls, 40);
    EXPECT_EQ(sim.Logs().size(), 2u);
    // A window that closes during the pause before a delete: the worker's
    // pause throws, and no delete is sent.
    sim.ClearCommands();
    EXPECT_THROW(Converse([&] { return DeleteLog(port, name, [](int) { throw std::runtime_error("closed"); }); }),
                 std::runtime_error);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE) << "the port stays open after the conversation";
    EXPECT_EQ(sim.Commands().size(), 2u) << "a delete was sent";

    // A silent device, then one that hangs up in the middle of the log (the
    // line stays hung up).
    for (const bool silent : {true, false}) {
        if (RunningUnderWine() && !silent) continue;  // Wine reports no failed read
        krx3sim::Behaviour b;
        b.silent = silent;
        b.close_after_bytes = silent ? -1 : 200;
        sim.SetBehaviour(b);
        sim.ClearCommands();
        const Conversation c = Converse([&] { return ReadLog(port, logs[0].start_code, {}); });
        // Silence ends an exchange normally, a hang-up does not.
        EXPECT_TRUE(c.opened && c.reply.Count() < 40 && c.Silent() == silent && c.Complete() == silent);
        EXPECT_EQ(c.end, silent ? ExchangeEnd::Silence : ExchangeEnd::LineLost);
        EXPECT_EQ(sim.Commands().size(), 3u);
    }
}

#if defined(__linux__)
// A node of a group other than root's ("dialout" where this user may give
// the file to it, as root may): the advice names the group and the command.
// Adding a user to root's group (/dev/null's) is no advice, nor is any for
// another reason.
TEST(OpenFailureAdvice, NamesTheNodesGroupAndTheCommandOnlyForPermissionDenied) {
    char path[] = "/tmp/krx3-ttyXXXXXX";
    ::close(::mkstemp(path));
    const group* dialout = ::getgrnam("dialout");
    const bool given = dialout && ::chown(path, static_cast<uid_t>(-1), dialout->gr_gid) == 0;
    struct stat st {};
    ASSERT_EQ(::stat(path, &st), 0);
    if (st.st_gid == 0) GTEST_SKIP() << "the node stays in root's group; given to dialout: " << given;
    const std::string group = ::getgrgid(st.st_gid)->gr_name, advice = OpenFailureAdvice(path, std::strerror(EACCES));
    EXPECT_NE(advice.find("\"" + group + "\""), std::string::npos) << advice;
    EXPECT_NE(advice.find("sudo usermod -aG " + group + " "), std::string::npos) << advice;
    EXPECT_EQ(OpenFailureAdvice("/dev/null", std::strerror(EACCES)), "");
    EXPECT_EQ(OpenFailureAdvice(path, std::strerror(ENOENT)), "");
    ::unlink(path);
}
#endif

}  // namespace
