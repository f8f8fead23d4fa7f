# Shared build settings for every Valdrune target.

add_library(valdrune_warnings INTERFACE)
target_compile_options(valdrune_warnings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion
        -Wno-sign-conversion -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
        -Wimplicit-fallthrough>
    $<$<CXX_COMPILER_ID:MSVC>:/W4 /permissive->)

# valdrune_add_test(NAME <name> LABELS <labels...> SOURCES <files...> LIBS <targets...>
#                   [TIMEOUT <seconds>] [NO_GTEST])
# One executable per component; GoogleTest cases are discovered individually.
function(valdrune_add_test)
    cmake_parse_arguments(T "NO_GTEST;QTEST" "NAME;TIMEOUT" "LABELS;SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} valdrune_warnings)
    # Test programs live outside the tools' folders, so they name the probe helper directly.
    if(TARGET valdrune-netprobe)
        target_compile_definitions(${T_NAME} PRIVATE
            VALDRUNE_NETPROBE_BINARY="$<TARGET_FILE:valdrune-netprobe>")
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    if(CMAKE_CROSSCOMPILING AND NOT T_NO_GTEST AND NOT T_QTEST)
        # Under an emulator (Wine) each start costs seconds: one run per executable.
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
    endif()
    if(T_NO_GTEST OR T_QTEST OR CMAKE_CROSSCOMPILING)
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
        if(T_ENV)
            set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENV}")
        endif()
    else()
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
        include(GoogleTest)
        set(props LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
        if(T_ENV)
            list(APPEND props ENVIRONMENT "${T_ENV}")
        endif()
        # NO_PRETTY_VALUES: case names, never the bytes of a parameter, so that ctest -R
        # picks the same case on every build.
        gtest_discover_tests(${T_NAME} PROPERTIES ${props} DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES
            DISCOVERY_MODE PRE_TEST)
    endif()
endfunction()

# valdrune_add_e2e_driver(NAME <driver> SOURCES <files...> LIBS <targets...>
#                         TEST <test> DEFINE <macro>)
# A test driver of a shipped program (the program plus test hooks) and the end-to-end test that
# runs it: the test gets the driver's path as <macro>; both name the probe helper of the build.
function(valdrune_add_e2e_driver)
    cmake_parse_arguments(D "" "NAME;TEST;DEFINE" "SOURCES;LIBS" ${ARGN})
    add_executable(${D_NAME} ${D_SOURCES})
    target_link_libraries(${D_NAME} PRIVATE ${D_LIBS} valdrune_warnings)
    target_compile_definitions(${D_NAME} PRIVATE
        VALDRUNE_NETPROBE_BINARY="$<TARGET_FILE:valdrune-netprobe>")
    target_compile_definitions(${D_TEST} PRIVATE ${D_DEFINE}="$<TARGET_FILE:${D_NAME}>")
    add_dependencies(${D_TEST} ${D_NAME} valdrune-sim valdrune-netprobe)
endfunction()
