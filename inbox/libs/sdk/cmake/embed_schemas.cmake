# Writes OUTPUT: a C++ source that holds the text of every schema in SCHEMAS (a ;-list),
# so that the schema texts the SDK hands out are the very files flatc compiled.
# SCHEMAS is separated by '|' so that it survives the command line.
string(REPLACE "|" ";" SCHEMAS "${SCHEMAS}")
set(body "")
foreach(schema ${SCHEMAS})
  get_filename_component(stem ${schema} NAME_WE)
  file(READ ${schema} text)
  string(APPEND body "    {\"${stem}\", R\"corvane_fbs(${text})corvane_fbs\"},\n")
endforeach()
file(WRITE ${OUTPUT}.tmp
"// Generated from the FlatBuffers schemas; do not edit.
#include \"util/schema_text.h\"

#include <cstring>

namespace corvane {
namespace {

struct SchemaText {
    const char* name;
    const char* text;
};

const SchemaText kSchemaTexts[] = {
${body}    {nullptr, nullptr},
};

}  // namespace

const char* getSchemaText(const char* name) {
    if (!name) {
        return nullptr;
    }
    for (const SchemaText* entry = kSchemaTexts; entry->name; ++entry) {
        if (std::strcmp(entry->name, name) == 0) {
            return entry->text;
        }
    }
    return nullptr;
}

}  // namespace corvane
")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
