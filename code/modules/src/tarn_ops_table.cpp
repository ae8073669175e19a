// The rows of tarn-ops. A module offers an operation by adding its row here (a captureless lambda adapts the
// entry's arguments); the runner in code/ops reads only this table.
#include "tarn_ops_table.h"

#include <cstdlib>

#include "tarn_mav_bms.h"
#include "tarn_mav_imu.h"
#include "tarn_mav_mcam.h"
#include "tarn_upgrade_nimbo_spuer_of.h"
#include "tarn_upgrade_nimbo_super_bms.h"
#include "tarn_upgrade_nimbo_super_imu.h"
#include "tarn_upgrade_nimbo_super_rcrftb.h"

namespace tarn {
namespace {

// Indexes are read as C numbers (0x.., 0.., decimal), as the consoles read theirs.
uint32_t Number(const char *text) {
    return static_cast<uint32_t>(strtoul(text, nullptr, 0));
}

// The battery's queries need its handler on the MAVLink service for as long as they wait for the reply.
int WithBattery(int (*query)(uint32_t *), uint32_t *value) {
    BmsHandle *pBms = nullptr;
    if (Bms_Create(&pBms) != 0) {
        return -1;
    }
    const int result = query(value);
    Bms_Delete(&pBms);
    return result;
}

// The IMU's and the camera's handlers: start the handler on the service, run its one operation, stop it.
template <typename Handle> int WithHandler(int (*create)(Handle **), void (*remove)(Handle **), int (*operation)()) {
    Handle *pHandle = nullptr;
    if (create(&pHandle) != 0) {
        return -1;
    }
    const int result = operation();
    remove(&pHandle);
    return result;
}

// The last row only ends the table, so that a module adds its rows above it without an empty array in
// between.
constexpr OpRow kRows[] = {
    // The second-generation devices behind the flight controller.
    {"bms_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return bms_upgrade(a[0]); }},
    {"bms_getVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return bms_getVer(v); }},
    {"bms_getHwVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return bms_getHwVer(v); }},
    {"bms_getPercent", "", 0, OpOutput::Decimal, [](char *[], uint32_t *v) { return bms_getPercent(v); }},
    {"imu_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return imu_upgrade(a[0]); }},
    {"imu_GetVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return imu_GetVer(v); }},
    {"of_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return of_upgrade(a[0]); }},
    {"sonic_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return sonic_upgrade(a[0]); }},
    {"esc_upgrade", "FILE INDEX", 2, OpOutput::None,
     [](char *a[], uint32_t *) { return esc_upgrade(a[0], Number(a[1])); }},
    {"of_getVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return of_getVer(v); }},
    {"sonic_getVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return sonic_getVer(v); }},
    {"esc_getVer", "INDEX", 1, OpOutput::Hex, [](char *a[], uint32_t *v) { return esc_getVer(v, Number(a[0])); }},
    // The remote control, radio and TB modules on port 0.
    {"rc_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return rc_upgrade(a[0]); }},
    {"rftx_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return rftx_upgrade(a[0]); }},
    {"tb_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return tb_upgrade(a[0]); }},
    {"rfrx_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return rfrx_upgrade(a[0]); }},
    {"rcLangLib_upgrade", "FILE", 1, OpOutput::None, [](char *a[], uint32_t *) { return rcLangLib_upgrade(a[0]); }},
    {"rc_getVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return rc_getVer(v); }},
    {"rftx_getVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return rftx_getVer(v); }},
    {"tb_GetVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return tb_GetVer(v); }},
    {"rfrx_getVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return rfrx_getVer(v); }},
    {"rcLangLib_getVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return rcLangLib_getVer(v); }},
    // The MAVLink device handlers on the flight controller's telemetry line.
    {"Bms_GetAppVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return WithBattery(Bms_GetAppVer, v); }},
    {"Bms_GetBldVer", "", 0, OpOutput::Hex, [](char *[], uint32_t *v) { return WithBattery(Bms_GetBldVer, v); }},
    {"Bms_GetPercent", "", 0, OpOutput::Decimal, [](char *[], uint32_t *v) { return WithBattery(Bms_GetPercent, v); }},
    {"MavImu_Nop", "", 0, OpOutput::None,
     [](char *[], uint32_t *) { return WithHandler(MavImu_Create, MavMavImu_Delete, MavImu_Nop); }},
    {"Mcam_Nop", "", 0, OpOutput::None,
     [](char *[], uint32_t *) { return WithHandler(Mcam_Create, Mcam_Delete, Mcam_Nop); }},
    {nullptr, nullptr, 0, OpOutput::None, nullptr},
};

constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0] - 1;

} // namespace

const OpRow *OpRows() {
    return kRows;
}

size_t OpRowCount() {
    return kRowCount;
}

} // namespace tarn
