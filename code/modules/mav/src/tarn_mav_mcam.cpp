#include "tarn_mav_mcam.h"

#include "mav.h"
#include "tarn_console.h"
#include "tarn_mav_handler.h"

namespace {

McamHandle gHandle = {Mcam_Nop};
const MavHandlerConfig kConfig = {"mav_mcam", Mav_GetFlowMsg, MavHandler_AcceptDeviceMsg};
MavHandler gHandler(kConfig);

} // namespace

int Mcam_Create(McamHandle **ppMcam) {
    TARN_ASSERT(ppMcam);
    return MavHandler_Create(gHandler, ppMcam, &gHandle);
}

void Mcam_Delete(McamHandle **ppMcam) {
    TARN_ASSERT(ppMcam);
    MavHandler_Delete(gHandler, ppMcam);
}

int Mcam_Nop() {
    return 0;
}
