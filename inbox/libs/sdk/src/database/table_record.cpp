#include "database/table_record.h"

namespace corvane {

namespace {
const uint8_t kEmptyBytes[1] = {0};
}  // namespace

BlobView viewOf(const std::vector<uint8_t>* bytes) {
    if (!bytes) {
        return BlobView{};
    }
    return BlobView{bytes->empty() ? kEmptyBytes : bytes->data(), static_cast<uint32_t>(bytes->size())};
}

}  // namespace corvane
