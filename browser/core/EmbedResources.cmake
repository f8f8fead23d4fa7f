# Writes OUTPUT: a C++ source whose functions return the bytes of the resource files, exactly.
# Inputs: OUTPUT, LISTS and TEMPLATES as "id=path" pairs separated by ",".
function(emit_table name pairs out)
    set(body "")
    string(REPLACE "," ";" pairs "${pairs}")
    foreach(pair ${pairs})
        string(REGEX MATCH "^([0-9]+)=(.*)$" _ "${pair}")
        set(id ${CMAKE_MATCH_1})
        set(path ${CMAKE_MATCH_2})
        file(READ "${path}" hex HEX)
        string(LENGTH "${hex}" hexLength)
        math(EXPR size "${hexLength} / 2")
        string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
        string(APPEND body "        case ${id}: {\n            static const char data[] = {${bytes} 0};\n"
                            "            return std::string_view(data, ${size});\n        }\n")
    endforeach()
    set(${out} "std::string_view ${name}(int id) {\n    switch (id) {\n${body}        default:\n            return {};\n    }\n}\n" PARENT_SCOPE)
endfunction()

emit_table(ModelListResource "${LISTS}" lists)
emit_table(XmlTemplateResource "${TEMPLATES}" templates)
file(WRITE "${OUTPUT}.tmp" "// Generated from res/models and res/xml; do not edit.\n#include \"browser/core/Resources.h\"\n\nnamespace valdrune {\n\n${lists}\n${templates}\n}  // namespace valdrune\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
