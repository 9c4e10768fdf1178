#pragma once

#include <cstdint>

#include "corvane/node_data.h"

namespace corvane {

// Compares two texts so that digit runs compare by value (a run after a full stop as a
// fraction), runs of spaces count as one space and ASCII letters ignore case. Bytes are taken
// as signed values. Negative, 0 or positive as left sorts before, with or after right.
int naturalCompare(const char* leftBegin, const char* leftEnd, const char* rightBegin, const char* rightEnd);

// Case-insensitive byte order in the C locale (A to Z folded), bytes compared unsigned.
int caseInsensitiveCompare(const char* left, const char* right);

// Whether node a goes before node b in the order of the code (see sortNodeList). A strict
// weak ordering for every input: containers before files, then the key, then the address
// of the node object.
class NodeOrder {
public:
    explicit NodeOrder(int32_t code) : code_(code) {}
    bool operator()(const NodeData* a, const NodeData* b) const;

private:
    int32_t code_;
};

// Sorts in place. Codes: 0 none; +-1, +-2 natural name; +-3 case-insensitive name; +-4, +-5
// creation time; +-6 size; positive ascending, negative descending; any other code none.
void sortNodeList(NodeList& list, int32_t code);

}  // namespace corvane
