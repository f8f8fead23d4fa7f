# What the Windows build needs beyond the toolchain file: Qt for the target, GoogleTest built
# from Debian's sources, the host's header-only libraries, and the DLLs the programs load.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Test)

# Header-only libraries come from the host's /usr/include, but that folder itself must never
# reach the cross compiler (glibc's headers would shadow the target's): a folder that holds
# only links to them stands in.
set(VALDRUNE_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${VALDRUNE_HOST_HEADERS})
foreach(entry nlohmann CLI)
    if(NOT EXISTS /usr/include/${entry})
        message(FATAL_ERROR "/usr/include/${entry} is missing (scripts/install-deps.sh)")
    endif()
    file(CREATE_LINK /usr/include/${entry} ${VALDRUNE_HOST_HEADERS}/${entry} SYMBOLIC)
endforeach()
# Each gets a package config of its own, so the folders' find_package calls work unchanged.
foreach(package nlohmann_json CLI11)
    set(_dir ${CMAKE_BINARY_DIR}/host-packages/${package})
    file(WRITE ${_dir}/${package}Config.cmake
"if(NOT TARGET ${package}::${package})
    add_library(${package}::${package} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${package}::${package} PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${VALDRUNE_HOST_HEADERS})
endif()
")
    file(WRITE ${_dir}/${package}ConfigVersion.cmake
"set(PACKAGE_VERSION 3.99)
set(PACKAGE_VERSION_COMPATIBLE TRUE)
")
    set(${package}_DIR ${_dir} CACHE PATH "" FORCE)
endforeach()

# GoogleTest for the target, from the sources Debian's googletest package installs.
set(VALDRUNE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${VALDRUNE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
    endif()
endforeach()

# The DLLs a program needs next to it: Qt's and the compiler's runtime. Tests find them through
# WINEPATH (scripts/wine-run.sh); installs get copies (valdrune_windows_install).
get_target_property(_qtcore_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT _qtcore_dll)
    get_target_property(_qtcore_dll Qt6::Core IMPORTED_LOCATION)
endif()
# Qt looks for its platform plugins beside the program, else where QT_PLUGIN_PATH says: the
# window's tests under Wine name the cached Qt's folder (a Wine path, drive Z: being /).
get_filename_component(_qt_prefix "${_qtcore_dll}/../.." ABSOLUTE)
set(VALDRUNE_QT_PLUGIN_ENV "QT_PLUGIN_PATH=Z:${_qt_prefix}/plugins")
set(VALDRUNE_COMPILER_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
        # libwinpthread lives in the sysroot, not in the compiler's folder.
        find_file(_path_${dll} ${dll} PATHS /usr/${VALDRUNE_MINGW_TRIPLE}/lib NO_DEFAULT_PATH)
        set(_path ${_path_${dll}})
    endif()
    if(NOT EXISTS "${_path}")
        message(FATAL_ERROR "${dll} not found for ${VALDRUNE_MINGW_TRIPLE}")
    endif()
    list(APPEND VALDRUNE_COMPILER_DLLS ${_path})
endforeach()
set(_dll_dirs)
foreach(dll ${_qtcore_dll} ${VALDRUNE_COMPILER_DLLS})
    get_filename_component(_dir ${dll} DIRECTORY)
    list(APPEND _dll_dirs ${_dir})
endforeach()
list(REMOVE_DUPLICATES _dll_dirs)
list(JOIN _dll_dirs ":" VALDRUNE_DLL_PATH)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CROSSCOMPILING_EMULATOR} --dlls ${VALDRUNE_DLL_PATH})

include(WindowsInstall)
