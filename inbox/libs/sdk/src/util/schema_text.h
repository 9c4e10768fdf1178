#pragma once

namespace corvane {

// The text of the schema file `<name>.fbs` as it was compiled into this build, or null when
// there is no such schema.
const char* getSchemaText(const char* name);

}  // namespace corvane
