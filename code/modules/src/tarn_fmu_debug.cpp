// fmu_debug: prints chosen items of the flight controller's telemetry every interval, and with -r dumps every
// received MAVLink message in hex until the process is killed.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <iterator>

#include "tarn_cancellable.h"
#include "tarn_commands.h"
#include "tarn_console.h"
#include "tarn_mav_fmu.h"
#include "tarn_thread.h"

namespace {

constexpr const char *kUsage[] = {
    "usage: ",
    "| ",
    "-- -r, read mavlink message ",
    "    eg: fmu_debug -r ",
    "-- -i, time interval(ms) ",
    "    eg: fmu_debug -i [100~10000]",
    "-- -g, get command ",
    "    eg: fmu_debug -g 0, get GPS information",
    "        fmu_debug -g 1, get attitude information",
    "        fmu_debug -g 2, get global position data",
    "        fmu_debug -g 3, get system status",
    "        fmu_debug -g 4, get battery information",
    "        fmu_debug -g 5, get battery extern information",
    "        fmu_debug -g 6, get GPS raw data",
    "        fmu_debug -g 7, get local position data",
    "        fmu_debug -g 8, get imu acceleration",
    "        fmu_debug -g 9, get imu gyro",
    "        fmu_debug -g 10, get imu magnetic",
    "        fmu_debug -g 11, get imu pressure",
    "        fmu_debug -g 12, get heartbeat information",
};
constexpr const char kOptions[] = "g:i:rh";
constexpr uint32_t kFlagCount = 32;
constexpr uint32_t kDefaultIntervalMs = 600;
// A shorter interval would keep the printer busy for nothing (0 would spin).
constexpr uint32_t kShortestIntervalMs = 100;

// Set by the main thread while the printer reads them.
std::atomic<bool> gEnabled[kFlagCount];
std::atomic<uint32_t> gIntervalMs{kDefaultIntervalMs};
FmuHandle *gpFmu = nullptr; // set before the printer starts, cleared after it is joined

void Usage() {
    for (const char *line : kUsage) {
        puts(line);
    }
    fflush(stdout);
}

void PrintGpsInfo() {
    FmuGpsInfo v{};
    gpFmu->GetGpsInfo(&v);
    TARN_INFO("GPS info: latitude=%d, longitude=%d, altitude=%d.\n", v.latitude, v.longitude, v.altitude);
}

void PrintAttitude() {
    FmuAttitude v{};
    gpFmu->GetAttitude(&v);
    TARN_INFO("attitude info: time=%d, roll=%.2f, pitch=%.2f, yaw=%.2f, roll speed=%.2f, pitch speed=%.2f, yaw "
              "speed=%.2f.\n",
              static_cast<int>(v.timeBootMs), v.roll, v.pitch, v.yaw, v.rollSpeed, v.pitchSpeed, v.yawSpeed);
}

void PrintGlobalPosition() {
    FmuGlobalPosition v{};
    gpFmu->GetGlobalPosition(&v);
    TARN_INFO("global position info: time=%d, latitude=%d, longitude=%d, altitude=%d, relative altitude=%d, vx=%d, "
              "vy=%d, vz=%d, hdg=%d.\n",
              static_cast<int>(v.timeBootMs), v.latitude, v.longitude, v.altitude, v.relativeAltitude, v.vx, v.vy, v.vz,
              v.heading);
}

void PrintSysStatus() {
    FmuSysStatus v{};
    gpFmu->GetSysStatus(&v);
    TARN_INFO("system status: warn state=%d, load=%d, fly status=%d, version=%.8s.\n", static_cast<int>(v.warnState),
              v.load, v.flyStatus, reinterpret_cast<const char *>(v.version));
}

void PrintBatteryInfo() {
    FmuBatteryInfo v{};
    gpFmu->GetBatteryInfo(&v);
    TARN_INFO("battery info:  voltage=%.2fmv, capacity=%.2fmah, current=%.2fma, temperature=%.2f, design "
              "capacity=%dmah, full capacity=%dfmah.\n",
              v.voltage, v.capacity, v.current, v.temperature, v.designCapacity, v.fullCapacity);
}

void PrintBatteryInfoExt() {
    FmuBatteryInfoExt v{};
    gpFmu->GetBatteryInfoExt(&v);
    TARN_INFO("battery info ext: cell1=%d, cell2=%d, cell3=%d, cell4=%d, cell5=%d, cell6=%d\n", v.cells[0], v.cells[1],
              v.cells[2], v.cells[3], v.cells[4], v.cells[5]);
}

void PrintGpsRaw() {
    FmuGpsRaw v{};
    gpFmu->GetGpsRaw(&v);
    TARN_INFO("GPS raw info: time=%lld, latitude=%d, longitude=%d, altitude=%d, eph=%d, epv=%d, vel=%d, cog=%d, fix "
              "type=%d, satellites=%d.\n",
              static_cast<long long>(v.time), v.latitude, v.longitude, v.altitude, v.eph, v.epv, v.velocity, v.course,
              v.fixType, v.satellites);
}

void PrintLocalPosition() {
    FmuLocalPosition v{};
    gpFmu->GetLocalPosition(&v);
    TARN_INFO("local position: time=%d, X=%.2f, Y=%.2f, Z=%.2f, Vx=%.2f, Vy=%.2f, Vz=%.2f.\n",
              static_cast<int>(v.timeBootMs), v.x, v.y, v.z, v.vx, v.vy, v.vz);
}

void PrintImuAcc() {
    FmuVector v{};
    gpFmu->GetImuAcc(&v);
    TARN_INFO("IMU acceleration: Xacc=%.2f, Yacc=%.2f, Zacc=%.2f\n", v.x, v.y, v.z);
}

void PrintImuGyro() {
    FmuVector v{};
    gpFmu->GetImuGyro(&v);
    TARN_INFO("IMU gyro: Xgyro=%.2f, Ygyro=%.2f, Zgyro=%.2f.\n", v.x, v.y, v.z);
}

void PrintImuMag() {
    FmuVector v{};
    gpFmu->GetImuMag(&v);
    TARN_INFO("IMU magnetic: Xmag=%.2f, Ymag=%.2f, Zmag=%.2f.\n", v.x, v.y, v.z);
}

void PrintImuPressure() {
    FmuPressure v{};
    gpFmu->GetImuPressure(&v);
    TARN_INFO("pressure: abs=%.2f, diff=%.2f, alt=%.2f, temp=%.2f.\n", v.absolute, v.differential, v.altitude,
              v.temperature);
}

void PrintHeartbeat() {
    FmuHeartbeat v{};
    gpFmu->GetHeartbeat(&v);
    TARN_INFO("heartbeat info: mode=%d, type=%d, autopilot=%d, base mode=%d, system status=%d, version=%d.\n",
              static_cast<int>(v.customMode), v.type, v.autopilot, v.baseMode, v.systemStatus, v.mavlinkVersion);
}

// Indexed by the -g number.
constexpr void (*kPrinters[])() = {
    PrintGpsInfo,        PrintAttitude,    PrintGlobalPosition, PrintSysStatus, PrintBatteryInfo,
    PrintBatteryInfoExt, PrintGpsRaw,      PrintLocalPosition,  PrintImuAcc,    PrintImuGyro,
    PrintImuMag,         PrintImuPressure, PrintHeartbeat,
};

void *FmuDebug_PrintThread(void *) {
    tarn::DisableCancellation();
    for (;;) {
        for (uint32_t index = 0; index < std::size(kPrinters); ++index) {
            if (gEnabled[index].load()) {
                kPrinters[index]();
            }
        }
        const uint32_t intervalMs = gIntervalMs.load();
        tarn::CancellableSleepUs(
            static_cast<uint64_t>(intervalMs < kShortestIntervalMs ? kShortestIntervalMs : intervalMs) * 1000);
    }
    return nullptr;
}

[[noreturn]] void FmuDebug_RawLoop() {
    for (;;) {
        MavlinkMessage message;
        uint32_t length = 0;
        gpFmu->GetRawMsg(&message, &length);
        // The record starts with the checksum, so the dump shows it first, then the frame from its start byte.
        const uint8_t *pRecord = reinterpret_cast<const uint8_t *>(&message);
        char line[4 + sizeof(MavlinkMessage) * 5];
        size_t used = 0;
        for (uint32_t index = 0; index < length; ++index) {
            used += static_cast<size_t>(snprintf(line + used, sizeof line - used, "0x%02x ", pRecord[index]));
        }
        TARN_INFO_LEAD("recv fmu msg: ", "%s\n", line);
    }
}

} // namespace

int Main_FmuDebug(int argc, char *argv[]) {
    if (argc == 1) {
        Usage();
        return 0;
    }
    if (Fmu_Create(&gpFmu) != 0) {
        TARN_ERR("fmucreate fail.\n");
        return -1;
    }
    Thread *pPrinter = nullptr;
    const ThreadParam printerParam = {"fmu_debug", nullptr, FmuDebug_PrintThread};
    if (Thread_Create(&pPrinter, &printerParam) != 0) {
        TARN_ERR("Thread_Create \n");
        Fmu_Delete(&gpFmu);
        return -1;
    }
    optind = 1;
    for (int option; (option = getopt(argc, argv, kOptions)) != -1;) {
        switch (option) {
            case 'g': {
                const unsigned long index = strtoul(optarg, nullptr, 0);
                if (index >= kFlagCount) {
                    TARN_WARN("param invalid.\n");
                } else {
                    gEnabled[index].store(true);
                }
                break;
            }
            case 'i':
                gIntervalMs.store(static_cast<uint32_t>(strtoul(optarg, nullptr, 0)));
                break;
            case 'r':
                FmuDebug_RawLoop();
            case 'h':
                Usage();
                break;
            default:
                break;
        }
    }
    Thread_Stop(pPrinter);
    Thread_Delete(&pPrinter);
    Fmu_Delete(&gpFmu);
    return 0;
}
