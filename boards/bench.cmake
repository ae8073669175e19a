# Host bench: every first-generation upgrader line is the first serial port.
set(TARN_LINE_FMU "/dev/ttyS0;115200")
set(TARN_LINE_IMU "/dev/ttyS0;115200")
set(TARN_LINE_OF "/dev/ttyS0;115200")
set(TARN_LINE_BMS "/dev/ttyS0;115200")
set(TARN_LINE_RC "/dev/ttyS0;115200")
set(TARN_LINE_RF "/dev/ttyS0;115200")

# Device secrets the first-generation upgraders send: the bench's simulators expect exactly these.
set(TARN_IMU_SCRAMBLE_KEY "0x5a;0xc3;0x17;0x8e;0x29;0xf4;0x60;0xbd")
set(TARN_OF_ENTRY_CODE "0x4f;0x46;0x42;0x4f;0x4f;0x54;0x21;0x7e")
set(TARN_BMS_ENTRY_CODE "0xb3;0x5e;0x0a;0xd1")
