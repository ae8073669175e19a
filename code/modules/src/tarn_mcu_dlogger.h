// mcu_dlogger: records a microcontroller's serial log stream into a numbered file while an SD card is present.
// A receive thread moves the line's bytes into a queue; the owner's thread moves them from there into the file.
#pragma once

#include <cstdint>

struct McuDloggerParam {
    const char *pDir; // directory of the log file
    const char *pFix; // file name prefix
    int32_t port;     // n of /dev/ttyS<n>, 0 to 4
};

struct McuDlogger;

// Checks the port, then creates the queue, the serial port, the lock and the receive thread, in that order,
// undoing what was made when a step fails. 0, or -1 after the lines naming the step.
int McuDlogger_Create(McuDlogger **ppLogger, const McuDloggerParam *pParam);
// One pass of the recording loop: checks the card, moves up to 1024 queued bytes into the file, and sleeps
// when there is nothing to do (100 ms without bytes, 1 s without a card or after a failed open or write).
void McuDlogger_Step(McuDlogger *pLogger);
// Stops the receive thread, then closes the file and releases everything.
void McuDlogger_Delete(McuDlogger **ppLogger);

// Creates the recorder and runs it for ever; returns -1 only when the creation fails.
int McuDlogger_DoMain(const McuDloggerParam *pParam);
