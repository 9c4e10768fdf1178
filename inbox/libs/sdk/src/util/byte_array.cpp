#include "util/byte_array.h"

#include <utility>

namespace corvane {

FlatbufferByteArray::FlatbufferByteArray(flatbuffers::DetachedBuffer&& buffer) : buffer_(std::move(buffer)) {}

VectorByteArray::VectorByteArray(std::vector<uint8_t>* bytes)
    : bytes_(bytes != nullptr ? bytes : new std::vector<uint8_t>()) {}

}  // namespace corvane
