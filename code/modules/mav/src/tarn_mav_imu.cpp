#include "tarn_mav_imu.h"

#include "mav.h"
#include "tarn_console.h"
#include "tarn_mav_handler.h"

namespace {

MavImuHandle gHandle = {MavImu_Nop};
const MavHandlerConfig kConfig = {"mav_imu", Mav_GetImuMsg, MavHandler_AcceptDeviceMsg};
MavHandler gHandler(kConfig);

} // namespace

int MavImu_Create(MavImuHandle **ppImu) {
    TARN_ASSERT(ppImu);
    return MavHandler_Create(gHandler, ppImu, &gHandle);
}

void MavMavImu_Delete(MavImuHandle **ppImu) {
    TARN_ASSERT(ppImu);
    MavHandler_Delete(gHandler, ppImu);
}

int MavImu_Nop() {
    return 0;
}
