# Reads boards/<TARN_BOARD>.cmake and turns it into the generated header tarn_board.h.
set(board_file "${PROJECT_SOURCE_DIR}/boards/${TARN_BOARD}.cmake")
if(NOT EXISTS "${board_file}")
    message(FATAL_ERROR "Unknown board '${TARN_BOARD}': no ${board_file}")
endif()
include("${board_file}")

# Each line is "device;baudrate" or empty for a line the board does not have.
function(tarn_board_line variable out)
    set(line "${${variable}}")
    if(line STREQUAL "")
        set(${out} "{nullptr, 0}" PARENT_SCOPE)
    else()
        list(GET line 0 device)
        list(GET line 1 baudrate)
        set(${out} "{\"${device}\", ${baudrate}}" PARENT_SCOPE)
    endif()
endfunction()

foreach(line FMU IMU OF BMS RC RF)
    tarn_board_line(TARN_LINE_${line} TARN_BOARD_LINE_${line})
endforeach()

configure_file("${PROJECT_SOURCE_DIR}/cmake/tarn_board.h.in" "${TARN_GENERATED_DIR}/tarn_board.h" @ONLY)
