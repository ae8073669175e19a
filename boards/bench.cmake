# Host bench: every first-generation upgrader line is the first serial port.
set(TARN_LINE_FMU "/dev/ttyS0;115200")
set(TARN_LINE_IMU "/dev/ttyS0;115200")
set(TARN_LINE_OF "/dev/ttyS0;115200")
set(TARN_LINE_BMS "/dev/ttyS0;115200")
set(TARN_LINE_RC "/dev/ttyS0;115200")
set(TARN_LINE_RF "/dev/ttyS0;115200")
