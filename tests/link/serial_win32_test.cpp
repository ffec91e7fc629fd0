// OpenCom and the Win32 line layer, against a simulated device linked in as
// a COM port (under Wine a pseudo-terminal stands behind it).
#include <windows.h>

#include "link_fixture.h"

// A bare name goes through the device namespace (COM10 and above need it), a
// path is opened as given, in either slash style; the line is set to what the
// device talks. A driver that keeps a read waiting past its time-outs (here:
// time-outs of zero, which mean "wait for ever") does not hold the reader:
// the read is cancelled at its own deadline and counts as idle, and the line
// still works afterwards. A failed open closes the connection before it and
// keeps the reason.
TEST(OpenComWin32, OpensNamesAndPathsWithTheDeviceLineAndBoundedReads) {
    krx3sim::Simulator sim;
    const std::string com = sim.PortPath();  // such as COM5
    for (const std::string& name : {"//./" + com, "\\\\.\\" + com, com}) {
        EXPECT_NE(OpenCom(name), 0) << name << ": " << OpenComError().text;
    }
    const HANDLE port = reinterpret_cast<HANDLE>(serial_os::NativeHandle(hCom.load()));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port, &dcb));
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(CBR_115200));
    EXPECT_TRUE(dcb.ByteSize == 8 && dcb.Parity == NOPARITY && dcb.StopBits == ONESTOPBIT);
    EXPECT_TRUE(dcb.fOutxCtsFlow && !dcb.fOutX && !dcb.fInX);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(port, &t));
    EXPECT_NE(t.WriteTotalTimeoutConstant, 0u) << "a write held back by flow control would never end";

    t = COMMTIMEOUTS{};
    ASSERT_TRUE(SetCommTimeouts(port, &t));
    unsigned char byte = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(serial_os::ReadByte(hCom.load(), &byte), serial_os::Read::Idle);
    EXPECT_LT(Clock::now() - t0, milliseconds(1000)) << "a closing window waits longer";
    SystemError error;
    EXPECT_TRUE(serial_os::Alive(hCom.load(), &error)) << error.text;

    EXPECT_EQ(OpenCom(MissingPort()), 0);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(port, &flags)) << "the connection was left open";
    EXPECT_TRUE(IsNotThere(OpenComError()) && !OpenComError().text.empty()) << OpenComError().code;
    EXPECT_EQ(CloseCom(), 0);
}
