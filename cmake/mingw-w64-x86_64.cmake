# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model, which std::thread
# and Qt need). Used for Qt itself and for the project's windows preset.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VALDRUNE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VALDRUNE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VALDRUNE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VALDRUNE_MINGW_TRIPLE}-windres)

# Target libraries come only from the mingw sysroot and the cross-built Qt prefix; programs
# (moc, rcc) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VALDRUNE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt for the target: built by scripts/build-qt-windows.sh, which records where. Its build tools
# (moc, rcc) are the host's, of the same version.
set(QT_HOST_PATH /usr CACHE PATH "Host Qt for the cross build's tools")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Host Qt's CMake packages")
if(DEFINED ENV{VALDRUNE_QT_WIN_PREFIX})
    set(VALDRUNE_QT_WIN_PREFIX $ENV{VALDRUNE_QT_WIN_PREFIX})
else()
    if(DEFINED ENV{VALDRUNE_QT_WIN_CACHE})
        set(_valdrune_qt_cache $ENV{VALDRUNE_QT_WIN_CACHE})
    elseif(DEFINED ENV{XDG_CACHE_HOME})
        set(_valdrune_qt_cache $ENV{XDG_CACHE_HOME}/valdrune)
    else()
        set(_valdrune_qt_cache $ENV{HOME}/.cache/valdrune)
    endif()
    if(EXISTS ${_valdrune_qt_cache}/qt-mingw64-prefix.txt)
        file(STRINGS ${_valdrune_qt_cache}/qt-mingw64-prefix.txt VALDRUNE_QT_WIN_PREFIX LIMIT_COUNT 1)
    endif()
endif()
if(VALDRUNE_QT_WIN_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${VALDRUNE_QT_WIN_PREFIX})
    list(APPEND CMAKE_PREFIX_PATH ${VALDRUNE_QT_WIN_PREFIX})
endif()

# Cross-built programs (tests) run under Wine, each in a prefix of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
