#include "util/string_copy.h"

#include <cstring>

namespace corvane {

char* copyString(const char* source) {
    if (source == nullptr) {
        return nullptr;
    }
    size_t length = std::strlen(source) + 1;
    char* copy = new char[length];
    std::memcpy(copy, source, length);
    return copy;
}

uint8_t* copyData(const uint8_t* source, size_t length) {
    if (source == nullptr) {
        return nullptr;
    }
    uint8_t* copy = new uint8_t[length];
    if (length > 0) {
        std::memcpy(copy, source, length);
    }
    return copy;
}

char* replaceString(char** field, const char* source) {
    // Copy first: the source may be the field's own string.
    char* copy = copyString(source);
    delete[] * field;
    *field = copy;
    return copy;
}

uint8_t* replaceData(uint8_t** field, const uint8_t* source, size_t length) {
    uint8_t* copy = copyData(source, length);
    delete[] * field;
    *field = copy;
    return copy;
}

void freeString(char* string) {
    delete[] string;
}

void freeData(uint8_t* data) {
    delete[] data;
}

}  // namespace corvane
