#include "tarn_bench_simulators.h"

#include "tarn_bench_sim_flow_battery.h"
#include "tarn_bench_sim_fmu_bootloader.h"
#include "tarn_bench_sim_fmu_super.h"
#include "tarn_bench_sim_gimbal.h"
#include "tarn_bench_sim_imu.h"
#include "tarn_bench_sim_lens.h"
#include "tarn_bench_sim_mcu_log.h"
#include "tarn_bench_sim_rcrf.h"
#include "tarn_bench_sim_telemetry.h"

namespace tarn::bench {

const std::vector<SimulatorKind> &SimulatorKinds() {
    static const std::vector<SimulatorKind> kinds = {
        // {"name", port, "what it plays", [](SimPort &port) -> std::unique_ptr<Simulator> { ... }},
        {"gimbal", 2, "gimbal board over mlink (projects COMM and RV310; RV311 wires it to port 1)",
         [](SimPort &port) -> std::unique_ptr<Simulator> { return std::make_unique<GimbalSimulator>(port); }},
        {"lens", 3, "camera lens over mlink (focus, zoom, iris, shutter, versions, parameter flash, upgrade)",
         [](SimPort &port) -> std::unique_ptr<Simulator> { return std::make_unique<LensSimulator>(port); }},
        {"fmu-bootloader", 0, "flight controller restarting into its first-generation bootloader (upgrade_fmu)",
         [](SimPort &port) -> std::unique_ptr<Simulator> { return std::make_unique<FmuBootloaderSimulator>(port); }},
        {"imu-bootloader", 0, "IMU bootloader behind the flight controller's line (upgrade_imu)",
         [](SimPort &port) -> std::unique_ptr<Simulator> { return std::make_unique<ImuSimulator>(port); }},
        {"of-bootloader", 0, "optical-flow bootloader behind the flight controller's line (upgrade_of)",
         [](SimPort &port) -> std::unique_ptr<Simulator> {
             return std::make_unique<FlowBatterySimulator>(port, FlowBatterySimulator::Device::Flow);
         }},
        {"bms-bootloader", 0, "battery bootloader behind the flight controller's line (upgrade_bms)",
         [](SimPort &port) -> std::unique_ptr<Simulator> {
             return std::make_unique<FlowBatterySimulator>(port, FlowBatterySimulator::Device::Battery);
         }},
        {"rc-module", 0, "remote-control module and its bootloader, module id 1 (upgrade_rc)",
         [](SimPort &port) -> std::unique_ptr<Simulator> {
             return std::make_unique<RcrfSimulator>(port, RcrfSimulator::Generation::First, 1, 1);
         }},
        {"rf-module", 0, "radio module and its bootloader, module id 2 (upgrade_rf)",
         [](SimPort &port) -> std::unique_ptr<Simulator> {
             return std::make_unique<RcrfSimulator>(port, RcrfSimulator::Generation::First, 2, 2);
         }},
        {"mcu-log", 1,
         "microcontroller printing a numbered log at 11520 bytes/s, dropping what the line cannot take; knobs: "
         "burst=BYTES, pause=MS (bursts of BYTES, each followed by MS of quiet)",
         [](SimPort &port) -> std::unique_ptr<Simulator> { return std::make_unique<McuLogSimulator>(port); }},
        {"fmu-super", 0,
         "second-generation flight controller (application, bootloader) and, behind its flag, battery, IMU, flow, "
         "sonar, ESCs; knobs: fraglen=N (erase answer), erase-ms=N, chatter=1, image=PATH (kept at finish), "
         "refuse=N (fragments), silent=1, line-rate=BYTES/S",
         [](SimPort &port) -> std::unique_ptr<Simulator> { return std::make_unique<FmuSuperSimulator>(port); }},
        {"rcrftb", 0, "remote control, radio transmitter and receiver, TB and language pack (ids 1 to 5)",
         [](SimPort &port) -> std::unique_ptr<Simulator> {
             return std::make_unique<RcrfSimulator>(port, RcrfSimulator::Generation::Second, 1, 5);
         }},
        {"telemetry", 0,
         "flight controller's MAVLink telemetry and the battery behind it (fmu_debug, tarn-ops Bms_*); knobs: "
         "battery=answer|refuse|silent, silent=1, saturate=1, line-rate=BYTES/S, corrupt=N, truncate=N, noise=N "
         "(every Nth frame), burst=N, extras=1",
         [](SimPort &port) -> std::unique_ptr<Simulator> { return std::make_unique<TelemetrySimulator>(port); }},
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
