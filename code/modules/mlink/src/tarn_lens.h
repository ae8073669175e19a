// The lens connection: a process-wide link over mlink (device id 0x09) on /dev/ttyS3, acknowledgements only,
// and the operations table through which every caller drives the lens.
#pragma once

#include <cstddef>
#include <cstdint>

// One slot per operation, in slot order. Each returns 0 or -1 and writes its results only on success.
// Positions go out most significant byte first and come back least significant byte first.
struct LensOps {
    int32_t (*LoopTest)();
    int32_t (*Upgrade)(const char *pPath);
    int32_t (*MoveFocus)(uint16_t position, uint8_t speed);
    int32_t (*StopFocus)();
    int32_t (*MoveZoom)(uint16_t position, uint8_t speed);
    int32_t (*StopZoom)();
    int32_t (*MoveIris)(uint16_t position, uint8_t speed);
    int32_t (*GetIrisPos)(int16_t *pPosition);
    int32_t (*GetFocusPiState)(uint32_t *pState);
    int32_t (*GetZoomPiState)(uint32_t *pState);
    int32_t (*GetFocusPos)(int16_t *pPosition);
    int32_t (*GetZoomPos)(int16_t *pPosition);
    int32_t (*GetShutterPos)(int16_t *pPosition);
    int32_t (*GetInitState)(uint32_t *pState);
    int32_t (*MoveShutter)(uint16_t position, uint8_t speed);
    // The reply's payload, cut to the buffer's size; returns the number of bytes copied.
    int32_t (*GetHardVersion)(uint8_t *pBuffer, size_t size);
    int32_t (*GetSoftVersion)(uint8_t *pBuffer, size_t size);
    int32_t (*SetFlashBit)(uint16_t address, uint8_t value);
    int32_t (*GetFlashData)(uint16_t address, uint8_t *pBuffer, size_t size);
};

inline constexpr size_t kLensOpsSlots = 19;
static_assert(sizeof(LensOps) == kLensOpsSlots * sizeof(void *), "one pointer per slot");

// The first caller opens the link (port 3, lock "lens", thread "lens_recv"); later callers share it after a
// second. 0, or -1 after "mlink init fail.".
int32_t Lens_Create(LensOps **ppOps);
// The last caller closes the link; the caller's pointer is cleared.
void Lens_Delete(LensOps **ppOps);

// The lens's firmware upgrade: prepare, erase, program in 8-byte chunks, verify, go to app; 0 or -1.
int32_t Lens_Upgrade(const char *pPath);
