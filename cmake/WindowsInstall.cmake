# Installing a Windows program so that it runs from its folder alone: the program, the DLLs it
# loads beside it (Qt's, found through the imported targets it links, and the compiler's
# runtime), and for a window the Qt plugins it loads at start. windeployqt does not exist for
# this cross build, and the imported targets already say where every DLL is.
#
#   valdrune_windows_install(<target> [GUI] [START_MENU <title>])
#
# GUI:        also platforms/qwindows.dll (and the native widget style when Qt has it)
# START_MENU: the setup program adds a Start-menu entry <title>: it starts a window; for a
#             console program it opens a command prompt that finds the program
# Every program installed this way gets its own inbound firewall rule from the setup program
# (packaging/windows), so device answers reach it.

# Copies of Qt's DLLs carry their debug information; a stripping install drops it, as it does
# for the programs.
function(_valdrune_strip_on_install destination files)
    install(CODE "
if(CMAKE_INSTALL_DO_STRIP)
    set(_files \"${files}\")
    foreach(_file IN LISTS _files)
        get_filename_component(_name \"\${_file}\" NAME)
        execute_process(COMMAND \"${CMAKE_STRIP}\"
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/\${_name}\")
    endforeach()
endif()")
endfunction()

function(valdrune_windows_install target)
    cmake_parse_arguments(W "GUI" "START_MENU" "" ${ARGN})
    set(bin ${CMAKE_INSTALL_BINDIR})
    install(TARGETS ${target} RUNTIME DESTINATION ${bin})

    # Every shared library the target links, directly or through another: the Qt modules.
    set(dlls "$<TARGET_RUNTIME_DLLS:${target}>")
    install(FILES ${dlls} DESTINATION ${bin})
    _valdrune_strip_on_install(${bin} "${dlls}")

    get_property(runtime_done GLOBAL PROPERTY VALDRUNE_COMPILER_DLLS_INSTALLED)
    if(NOT runtime_done)
        install(FILES ${VALDRUNE_COMPILER_DLLS} DESTINATION ${bin})
        _valdrune_strip_on_install(${bin} "${VALDRUNE_COMPILER_DLLS}")
        set_property(GLOBAL PROPERTY VALDRUNE_COMPILER_DLLS_INSTALLED TRUE)
    endif()

    if(W_GUI)
        # Qt looks for plugins in folders beside the executable.
        if(NOT TARGET Qt6::QWindowsIntegrationPlugin)
            message(FATAL_ERROR "${target}: Qt for the target has no windows platform plugin "
                                "(find_package(Qt6 COMPONENTS Gui) first)")
        endif()
        set(plugins Qt6::QWindowsIntegrationPlugin platforms)
        if(TARGET Qt6::QWindowsVistaStylePlugin)
            list(APPEND plugins Qt6::QWindowsVistaStylePlugin styles)
        endif()
        while(plugins)
            list(POP_FRONT plugins plugin folder)
            install(FILES $<TARGET_FILE:${plugin}> DESTINATION ${bin}/${folder})
            _valdrune_strip_on_install(${bin}/${folder} $<TARGET_FILE:${plugin}>)
        endwhile()
    endif()

    set_property(GLOBAL APPEND PROPERTY VALDRUNE_WINDOWS_PROGRAMS ${target})
    # The setup program is rebuilt when these rules change.
    set_property(GLOBAL APPEND PROPERTY VALDRUNE_WINDOWS_INSTALL_SCRIPTS
                 ${CMAKE_CURRENT_BINARY_DIR}/cmake_install.cmake)
    if(W_START_MENU)
        set(kind console)
        if(W_GUI)
            set(kind window)
        endif()
        set_property(GLOBAL APPEND PROPERTY VALDRUNE_WINDOWS_START_MENU
                     ${target} ${kind} "${W_START_MENU}")
    endif()
endfunction()
