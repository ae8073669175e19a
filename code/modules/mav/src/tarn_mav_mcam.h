// The camera's handler on the MAVLink service: takes the flow group's messages and accepts them.
#pragma once

struct McamHandle {
    int (*Nop)();
};

int Mcam_Create(McamHandle **ppMcam);
void Mcam_Delete(McamHandle **ppMcam);
int Mcam_Nop();
