# The tool names of the command table, in table order. The installed tree carries one symbolic link per
# name beside bin/tarn; a unit test checks that this list and the dispatcher's table agree.
set(TARN_TOOL_NAMES
    tarn dlog dlogger msleep usleep unitest upgrade_fmu upgrade_imu upgrade_of upgrade_bms upgrade_rc
    upgrade_rf upgrade_dm368_kernel upgrade_dm368_fs uart_debug xtb_debug fmu_debug mcu_dlogger priuenv
    setuenv binmerge upgrade_hi3519 lens_debug upgrade_fmu_super)

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
