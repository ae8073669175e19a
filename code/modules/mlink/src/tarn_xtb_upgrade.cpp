// Flashing the parts behind the gimbal board: one wrapper per part, each the shared procedure with the part's
// target id.
#include <cstddef>

#include "tarn_console.h"
#include "tarn_mlink_upgrade.h"
#include "tarn_xtb_link.h"

namespace {

constexpr MlinkUpgradeDevice XtbUpgrade() {
    MlinkUpgradeDevice device{};
    device.link = Xtb_Link;
    device.sendsFlag = true;
    device.addressesTarget = true;
    device.prepareSequenceZero = false;
    device.prepareTimeoutMs = 2000;
    device.eraseTimeoutMs = 10000;
    device.chunkMax = 240;
    device.verifyTrailingZero = false;
    return device;
}

constexpr MlinkUpgradeDevice kXtbUpgrade = XtbUpgrade();

struct UpgradePart {
    uint8_t target;
    const char *name;
};

constexpr UpgradePart kParts[] = {
    {1, "gmu"}, {2, "imu"},      {3, "esc pitch"}, {4, "esc yaw"},     {5, "esc roll"}, {6, "bms"},
    {7, "xtb"}, {8, "joystick"}, {9, "focus"},     {10, "focus ctrl"}, {0, "rfrx"},
};
// The receiver's id is not settled with the board yet: the id its slot was given, 4, is the yaw ESC's, and
// flashing a receiver image into a motor controller would wreck it. Target 0 sends nothing.
constexpr uint8_t kTargetNotSettled = 0;

template <size_t kPart> int32_t UpgradePartOf(const char *pPath) {
    const UpgradePart &part = kParts[kPart];
    int32_t result = -1;
    if (part.target == kTargetNotSettled) {
        TARN_ERR("upgrade target of %s is not settled, nothing sent.\n", part.name);
    } else {
        result = Xtb_Upgrade(pPath, part.target);
    }
    if (result == 0) {
        TARN_INFO("upgrade %s success.\n", part.name);
    } else {
        TARN_ERR("upgrade %s fail.\n", part.name);
    }
    return result;
}

} // namespace

int32_t Xtb_Upgrade(const char *pPath, uint32_t target) {
    return Mlink_Upgrade(kXtbUpgrade, pPath, static_cast<uint8_t>(target));
}

int32_t Xtb_UpgradeGmu(const char *pPath) {
    return UpgradePartOf<0>(pPath);
}
int32_t Xtb_UpgradeImu(const char *pPath) {
    return UpgradePartOf<1>(pPath);
}
int32_t Xtb_UpgradeEscPitch(const char *pPath) {
    return UpgradePartOf<2>(pPath);
}
int32_t Xtb_UpgradeEscYaw(const char *pPath) {
    return UpgradePartOf<3>(pPath);
}
int32_t Xtb_UpgradeEscRoll(const char *pPath) {
    return UpgradePartOf<4>(pPath);
}
int32_t Xtb_UpgradeBms(const char *pPath) {
    return UpgradePartOf<5>(pPath);
}
int32_t Xtb_UpgradeXtb(const char *pPath) {
    return UpgradePartOf<6>(pPath);
}
int32_t Xtb_UpgradeJoystick(const char *pPath) {
    return UpgradePartOf<7>(pPath);
}
int32_t Xtb_UpgradeFocus(const char *pPath) {
    return UpgradePartOf<8>(pPath);
}
int32_t Xtb_UpgradeFocusCtrl(const char *pPath) {
    return UpgradePartOf<9>(pPath);
}
int32_t Xtb_UpgradeRfrx(const char *pPath) {
    return UpgradePartOf<10>(pPath);
}
