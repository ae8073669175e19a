#include "tarn_bench_simulators.h"

namespace tarn::bench {

const std::vector<SimulatorKind> &SimulatorKinds() {
    static const std::vector<SimulatorKind> kinds = {
        // {"name", port, "what it plays", [](SimPort &port) -> std::unique_ptr<Simulator> { ... }},
    };
    return kinds;
}

const SimulatorKind *FindSimulatorKind(std::string_view name) {
    for (const SimulatorKind &kind : SimulatorKinds()) {
        if (name == kind.name) {
            return &kind;
        }
    }
    return nullptr;
}

} // namespace tarn::bench
