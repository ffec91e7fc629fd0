// OpenCom and the Win32 line layer, against a simulated device linked in as
// a COM port. Under Wine a pseudo-terminal stands behind the port: Wine
// keeps no DTR or RTS mode of its own there and does not refuse a second
// opener, so those are checked on Windows only.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "link_fixture.h"
#include "platform_support.h"
#include "serial_os.h"

namespace {

HANDLE Port() { return reinterpret_cast<HANDLE>(hCom.load()); }

}  // namespace

TEST(OpenComWin32, NamesPathsAndMissingPorts) {
    krx3sim::Simulator sim;
    const std::string com = sim.PortPath();  // such as COM5
    // A bare name goes through the device namespace (COM10 and above need
    // it); a path is opened as given, in either slash style.
    for (const std::string& name : {com, "//./" + com, "\\\\.\\" + com}) {
        EXPECT_NE(OpenCom(name), 0) << name << ": " << OpenComError();
        EXPECT_NE(hCom.load(), INVALID_COM_HANDLE);
        EXPECT_EQ(OpenComError(), "");
        EXPECT_EQ(CloseCom(), 1);
        EXPECT_EQ(CloseCom(), 0);
    }

    // A failed open closes the connection before it and keeps the reason.
    ASSERT_NE(OpenCom(com), 0) << OpenComError();
    const HANDLE first = Port();
    EXPECT_EQ(OpenCom(MissingPort()), 0);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(first, &flags)) << "the first connection was left open";
    EXPECT_NE(OpenComError(), "") << "the reason was not kept";
    EXPECT_EQ(CloseCom(), 0);
    ASSERT_NE(OpenCom(com), 0) << OpenComError();
    EXPECT_EQ(CloseCom(), 1);
}

// The line settings the device talks with (a simulated line ignores them).
// Write puts back its 25 ms slice when something changed the time-outs,
// so that a write is bounded (0 would mean no bound at all).
TEST(OpenComWin32, AppliesTheLineSettingsAndKeepsWritesBounded) {
    krx3sim::Simulator sim;
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(Port(), &dcb));
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(CBR_115200));
    EXPECT_TRUE(dcb.ByteSize == 8 && dcb.Parity == NOPARITY && dcb.StopBits == ONESTOPBIT);
    EXPECT_TRUE(dcb.fOutxCtsFlow && !dcb.fOutX && !dcb.fInX);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(Port(), &t));
    t.WriteTotalTimeoutConstant = 0;
    ASSERT_TRUE(SetCommTimeouts(Port(), &t));
    EXPECT_TRUE(serial_os::Write(hCom.load(), "md mach\r", 8, milliseconds(1000)));
    ASSERT_TRUE(GetCommTimeouts(Port(), &t));
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 25u);
    EXPECT_EQ(CloseCom(), 1);
}

// The read that the exchanges count: a byte as soon as it is there, Idle
// after 25 ms of silence, and the device's reply byte for byte.
TEST(SerialOsWin32, ReadsAByteOrIdlesFor25Ms) {
    krx3sim::Simulator sim;
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    const com_handle_t h = hCom.load();
    unsigned char byte = 0;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        EXPECT_EQ(serial_os::ReadByte(h, &byte), serial_os::Read::Idle);
        const double ms = ms_between(t0, Clock::now());
        EXPECT_GE(ms, 20.0);
        EXPECT_LT(ms, 1000.0);
    }

    ASSERT_TRUE(serial_os::Write(h, "md mach\r", 8, milliseconds(1000)));
    ASSERT_TRUE(sim.WaitForCommands(1, milliseconds(2000)));
    EXPECT_EQ(sim.Commands()[0].text, "md mach");
    std::string reply;
    const auto until = Clock::now() + milliseconds(2000);
    while (reply.size() < 3 && Clock::now() < until) {
        if (serial_os::ReadByte(h, &byte) == serial_os::Read::Byte) reply.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(reply, "ok\r");
    // With the reply read, the line is quiet again.
    const auto t0 = Clock::now();
    EXPECT_EQ(serial_os::ReadByte(h, &byte), serial_os::Read::Idle);
    EXPECT_GE(ms_between(t0, Clock::now()), 20.0);
    EXPECT_EQ(CloseCom(), 1);
    EXPECT_EQ(serial_os::ReadByte(INVALID_COM_HANDLE, &byte), serial_os::Read::Failed);
}

// Once the device is gone the command cannot be written, and the exchange
// says so at once instead of waiting for a reply.
TEST(SerialOsWin32, ACommandToADeviceThatHungUpFails) {
    krx3sim::Simulator sim;
    ASSERT_NE(OpenCom(sim.PortPath()), 0) << OpenComError();
    EXPECT_EQ(krx_cmd("md mach\r", 2), "ok");
    sim.HangUp();
    ExchangeEnd end = ExchangeEnd::Silence;
    const auto t0 = Clock::now();
    EXPECT_EQ(krx_cmd("md mach\r", 2, &end), "");
    EXPECT_TRUE(end == ExchangeEnd::WriteFailed || end == ExchangeEnd::LineLost) << static_cast<int>(end);
    EXPECT_LT(ms_between(t0, Clock::now()), 1000.0);
    EXPECT_EQ(CloseCom(), 1);
}
