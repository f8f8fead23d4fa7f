# Fails when a shipped program carries the name of a test-only variable: test hooks live in
# test drivers, never in what is packaged. Usage: cmake -DPROGRAMS="a;b" -P CheckShippedPrograms.cmake
foreach(program ${PROGRAMS})
    file(STRINGS ${program} hits REGEX "VALDRUNE_[A-Z_]+")
    if(hits)
        message(FATAL_ERROR "${program} honours test variables: ${hits}")
    endif()
endforeach()
