#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace flatbuffers {
class DetachedBuffer;
}

namespace corvane {

// A read-only run of bytes handed between modules. Owners hold an implementation through a
// pointer to this interface and delete it through it. Not synchronised: one owner at a time.
class ByteArray {
public:
    virtual ~ByteArray() = default;

    // Byte i; no bounds check.
    virtual uint8_t at(size_t index) const = 0;
    virtual const uint8_t* data() const = 0;
    virtual size_t size() const = 0;
};

// The finished message of a FlatBuffers builder, taken over by move (the source is left
// empty); the storage goes back through the builder's allocator on destruction. The buffer
// is held by pointer so that users of byte arrays need no FlatBuffers header.
class FlatbufferByteArray : public ByteArray {
public:
    explicit FlatbufferByteArray(flatbuffers::DetachedBuffer&& buffer);
    ~FlatbufferByteArray() override;

    FlatbufferByteArray(const FlatbufferByteArray&) = delete;
    FlatbufferByteArray& operator=(const FlatbufferByteArray&) = delete;

    uint8_t at(size_t index) const override { return data_[index]; }
    const uint8_t* data() const override { return data_; }
    size_t size() const override { return size_; }

private:
    std::unique_ptr<flatbuffers::DetachedBuffer> buffer_;
    const uint8_t* data_;
    size_t size_;
};

// A heap byte vector that this array owns and deletes.
class VectorByteArray : public ByteArray {
public:
    // Takes ownership of the vector; null reads as an empty array.
    explicit VectorByteArray(std::vector<uint8_t>* bytes);
    ~VectorByteArray() override = default;

    VectorByteArray(const VectorByteArray&) = delete;
    VectorByteArray& operator=(const VectorByteArray&) = delete;

    uint8_t at(size_t index) const override { return (*bytes_)[index]; }
    const uint8_t* data() const override { return bytes_->data(); }
    size_t size() const override { return bytes_->size(); }

private:
    std::unique_ptr<std::vector<uint8_t>> bytes_;
};

}  // namespace corvane
