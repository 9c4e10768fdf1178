#include "util/byte_array.h"

#include <utility>

#include <flatbuffers/flatbuffers.h>

namespace corvane {

FlatbufferByteArray::FlatbufferByteArray(flatbuffers::DetachedBuffer&& buffer)
    : buffer_(new flatbuffers::DetachedBuffer(std::move(buffer))), data_(buffer_->data()), size_(buffer_->size()) {
}

FlatbufferByteArray::~FlatbufferByteArray() = default;

VectorByteArray::VectorByteArray(std::vector<uint8_t>* bytes)
    : bytes_(bytes != nullptr ? bytes : new std::vector<uint8_t>()) {
}

}  // namespace corvane
