# Turns the string table source into a byte array compiled into valdrune_strings.
# Usage: cmake -DINPUT=<tsv> -DOUTPUT=<cpp> -P EmbedTable.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR byteCount "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Break the initialiser every 24 bytes so that the generated file stays readable.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n    " bytes "${bytes}")
set(content "// Generated from ${INPUT}; do not edit.
#include <cstddef>

namespace valdrune::detail {
extern const unsigned char kStringTableSource[];
extern const std::size_t kStringTableSourceSize;
const unsigned char kStringTableSource[] = {
    ${bytes}0x00};
const std::size_t kStringTableSourceSize = ${byteCount};
}  // namespace valdrune::detail
")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" previous)
    if(previous STREQUAL content)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
