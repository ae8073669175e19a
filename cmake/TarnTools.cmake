# The tool names, in command-table order: the one place they are written. The build turns them into the
# generated header tarn_tool_names.h, from which the dispatcher's table takes its rows, and the installed tree
# carries one symbolic link per name beside bin/tarn.
set(TARN_TOOL_NAMES
    tarn dlog dlogger msleep usleep unitest upgrade_fmu upgrade_imu upgrade_of upgrade_bms upgrade_rc
    upgrade_rf upgrade_dm368_kernel upgrade_dm368_fs uart_debug xtb_debug fmu_debug mcu_dlogger priuenv
    setuenv binmerge upgrade_hi3519 lens_debug upgrade_fmu_super)

list(LENGTH TARN_TOOL_NAMES TARN_TOOL_COUNT)
set(TARN_TOOL_ENUMERATORS "")
set(TARN_TOOL_STRINGS "")
foreach(name IN LISTS TARN_TOOL_NAMES)
    string(APPEND TARN_TOOL_ENUMERATORS "    ${name},\n")
    string(APPEND TARN_TOOL_STRINGS "    \"${name}\",\n")
endforeach()
configure_file("${PROJECT_SOURCE_DIR}/cmake/tarn_tool_names.h.in" "${TARN_GENERATED_DIR}/tarn_tool_names.h" @ONLY)

function(tarn_install_tool_links destination)
    foreach(name IN LISTS TARN_TOOL_NAMES)
        if(NOT name STREQUAL "tarn")
            install(CODE "
                set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/${name}\")
                file(REMOVE \"\${link}\")
                file(CREATE_LINK tarn \"\${link}\" SYMBOLIC)
                message(STATUS \"Installing link: \${link} -> tarn\")")
        endif()
    endforeach()
endfunction()
