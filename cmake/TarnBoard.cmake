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

# Each secret is a list of byte values of a fixed count.
function(tarn_board_bytes variable count out)
    set(bytes "${${variable}}")
    list(LENGTH bytes length)
    if(NOT length EQUAL count)
        message(FATAL_ERROR "boards/${TARN_BOARD}.cmake: ${variable} needs ${count} bytes, has ${length}")
    endif()
    list(JOIN bytes ", " joined)
    set(${out} "{${joined}}" PARENT_SCOPE)
endfunction()

tarn_board_bytes(TARN_IMU_SCRAMBLE_KEY 8 TARN_BOARD_IMU_SCRAMBLE_KEY)
tarn_board_bytes(TARN_OF_ENTRY_CODE 8 TARN_BOARD_OF_ENTRY_CODE)
tarn_board_bytes(TARN_BMS_ENTRY_CODE 4 TARN_BOARD_BMS_ENTRY_CODE)
configure_file("${PROJECT_SOURCE_DIR}/cmake/tarn_board.h.in" "${TARN_GENERATED_DIR}/tarn_board.h" @ONLY)
