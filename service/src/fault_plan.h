// Scripted faults: which fault, if any, the next request on a path gets.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "stand_in_service.h"

namespace corvane::service {

class FaultPlan {
public:
    void add(Fault fault);
    void clear();

    // The first fault, in the order added, whose prefix matches the path and which has uses
    // left; takes one use of it (a fault with times -1 is never used up, times 0 never applies).
    std::optional<Fault> take(const std::string& path);

    bool empty() const { return faults_.empty(); }

private:
    std::vector<Fault> faults_;
};

// The faults of the transfer links, taken as FaultPlan takes its own.
class ChunkFaultPlan {
public:
    void add(ChunkFault fault);
    void clear();

    // The first fault, in the order added, for the link and a chunk starting at `first`, of a
    // kind in `kinds`; takes one use of it.
    std::optional<ChunkFault> take(ChunkFault::Link link, uint64_t first,
                                   std::initializer_list<ChunkFault::Kind> kinds);

private:
    std::vector<ChunkFault> faults_;
};

// XOR 0xFF into bytes[offset] when the offset falls within the bytes; `base` is the offset of
// bytes[0] within the whole body, for bodies produced piece by piece.
void flipBodyByte(char* bytes, size_t length, int64_t offset, uint64_t base = 0);

}  // namespace corvane::service
