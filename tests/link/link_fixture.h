// A simulated device, connected through OpenCom, for the exchange tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "exchange.h"
#include "serial.h"
#include "simulator.h"

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExchangeBounds(DefaultExchangeBounds());
        StopExchanges(false);
        sim = std::make_unique<krx3sim::Simulator>(krx3sim::SampleLogs(3, 4));
        ASSERT_NE(OpenCom(sim->PortPath()), 0) << OpenComError();
    }
    void TearDown() override {
        CloseCom();
        StopExchanges(false);
        SetExchangeBounds(DefaultExchangeBounds());
        sim.reset();
    }

    // Gives the device one log named "X" with these lines, each followed by
    // `line_end`.
    void Serve(std::vector<std::string> lines, const std::string& line_end = "\r") {
        sim->SetLogs({krx3sim::Log{"X", "X", std::move(lines)}});
        krx3sim::Behaviour b = sim->GetBehaviour();
        b.line_end = line_end;
        sim->SetBehaviour(b);
    }

    void Behave(const krx3sim::Behaviour& b) { sim->SetBehaviour(b); }

    std::unique_ptr<krx3sim::Simulator> sim;
};
