#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// Owned copies of C strings and byte buffers kept in records. Every copy is allocated with
// new[] and must be released with freeString / freeData (or the replace functions).

// A new copy of the string with its terminating zero; null for a null source.
char* copyString(const char* source);

// A new copy of length bytes; null for a null source. Length 0 from a non-null source gives
// a non-null allocation of no bytes.
uint8_t* copyData(const uint8_t* source, size_t length);

// Frees what the field points to, stores a copy of the source there and returns it.
char* replaceString(char** field, const char* source);
uint8_t* replaceData(uint8_t** field, const uint8_t* source, size_t length);

void freeString(char* string);
void freeData(uint8_t* data);

}  // namespace corvane
