#pragma once
// For the window tests of the control window: the program's windows on a simulated line with
// chamber 1, the port open, the chamber selected and the control window shown.
#include "AppFixture.h"
#include "ChamberSelection.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include <QPushButton>

struct ControlLine {
    AppFixture app;
    SimulatedLine line{{1}};
    ControlLine() {
        app.openPort(line.slavePath());
        SelectChamber(1);
        Form1->Button2->click();
    }
    // The frames the chamber received, once `expected` of them came (or the wait gave up).
    std::vector<std::vector<std::uint8_t>> frames(std::size_t expected) {
        line.waitForReceived(expected, kEventTimeout);
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto &frame : line.received())
            out.push_back(frame.bytes);
        return out;
    }
};
