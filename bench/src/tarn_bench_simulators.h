// The device simulators a scenario can put on a serial line, by name: tarn-bench's --sim NAME[:PORT].
// A new device simulator adds one row in tarn_bench_simulators.cpp.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "tarn_bench_simulator.h"

namespace tarn::bench {

struct SimulatorKind {
    const char *name;
    int defaultPort; // n of /dev/ttySn where the aircraft wires this device
    const char *description;
    std::unique_ptr<Simulator> (*create)(SimPort &port);
};

const std::vector<SimulatorKind> &SimulatorKinds();
// nullptr when no simulator has that name.
const SimulatorKind *FindSimulatorKind(std::string_view name);

} // namespace tarn::bench
