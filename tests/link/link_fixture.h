// A simulated device, connected through OpenCom, for the link tests.
#pragma once

#include <gtest/gtest.h>

#include "link/exchange.h"
#include "link/serial.h"
#include "link/serial_os.h"
#include "sim/simulator.h"
#include "tests/support/platform_support.h"

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

using Ms = std::chrono::duration<double, std::milli>;

struct LinkTest : ::testing::Test {
    void SetUp() override { Open(krx3sim::SampleLogs(3, 4)); }
    void TearDown() override {
        CloseCom();
        StopExchanges(false);
        SetExchangeBounds(DefaultExchangeBounds());
    }
    // A new device on a new connection.
    void Open(std::vector<krx3sim::Log> logs) {
        CloseCom();
        sim = std::make_unique<krx3sim::Simulator>(std::move(logs));
        ASSERT_NE(OpenCom(sim->PortPath()), 0) << OpenComError().text;
    }
    // The device's one log "X" with these lines, each followed by `line_end`;
    // the device behaves as `b` says.
    void Serve(Lines lines, const std::string& line_end = "\r") {
        sim->SetLogs({krx3sim::Log{"X", "X", std::move(lines)}});
        b.line_end = line_end;
        sim->SetBehaviour(b);
    }
    std::unique_ptr<krx3sim::Simulator> sim;
    krx3sim::Behaviour b;
};
