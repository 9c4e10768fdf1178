// Node attributes are decrypted from what the service stores for other clients' nodes.
#include "crypto/node_attributes.h"
#include "database/mutable_node_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    corvane::MutableNodeData node;
    corvane::applyNodeAttributes(data, size, node);
    return 0;
}
