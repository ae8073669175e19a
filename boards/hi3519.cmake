# hi3519 board: the flight controller's line carries the flight controller and the devices behind it.
# The RC and RF modules have no line on this board.
set(TARN_LINE_FMU "/dev/ttyS0;115200")
set(TARN_LINE_IMU "/dev/ttyS0;115200")
set(TARN_LINE_OF "/dev/ttyS0;115200")
set(TARN_LINE_BMS "/dev/ttyS0;115200")
set(TARN_LINE_RC "")
set(TARN_LINE_RF "")

# Device secrets the first-generation upgraders send. PLACEHOLDERS: these must be replaced by the values the
# IMU, optical-flow and battery bootloaders of this board expect before the upgraders can work here.
set(TARN_IMU_SCRAMBLE_KEY "0x00;0x00;0x00;0x00;0x00;0x00;0x00;0x00")
set(TARN_OF_ENTRY_CODE "0x00;0x00;0x00;0x00;0x00;0x00;0x00;0x00")
set(TARN_BMS_ENTRY_CODE "0x00;0x00;0x00;0x00")
