# hi3519 board: the flight controller's line carries the flight controller and the devices behind it.
# The RC and RF modules have no line on this board.
set(TARN_LINE_FMU "/dev/ttyS0;115200")
set(TARN_LINE_IMU "/dev/ttyS0;115200")
set(TARN_LINE_OF "/dev/ttyS0;115200")
set(TARN_LINE_BMS "/dev/ttyS0;115200")
set(TARN_LINE_RC "")
set(TARN_LINE_RF "")
