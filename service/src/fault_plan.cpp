#include "fault_plan.h"

#include <algorithm>

namespace corvane::service {

void FaultPlan::add(Fault fault) {
    if (fault.times == 0) return;
    faults_.push_back(std::move(fault));
}

void FaultPlan::clear() {
    faults_.clear();
}

std::optional<Fault> FaultPlan::take(const std::string& path) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (path.compare(0, it->pathPrefix.size(), it->pathPrefix) != 0) continue;
        Fault fault = *it;
        if (it->times > 0 && --it->times == 0) faults_.erase(it);
        return fault;
    }
    return std::nullopt;
}

void ChunkFaultPlan::add(ChunkFault fault) {
    if (fault.times == 0) return;
    faults_.push_back(fault);
}

void ChunkFaultPlan::clear() {
    faults_.clear();
}

std::optional<ChunkFault> ChunkFaultPlan::take(ChunkFault::Link link, uint64_t first,
                                               std::initializer_list<ChunkFault::Kind> kinds) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->link != link) continue;
        if (it->first >= 0 && static_cast<uint64_t>(it->first) != first) continue;
        if (std::find(kinds.begin(), kinds.end(), it->kind) == kinds.end()) continue;
        ChunkFault fault = *it;
        if (it->times > 0 && --it->times == 0) faults_.erase(it);
        return fault;
    }
    return std::nullopt;
}

void flipBodyByte(char* bytes, size_t length, int64_t offset, uint64_t base) {
    if (offset < 0) return;
    const uint64_t at = static_cast<uint64_t>(offset);
    if (at < base || at - base >= length) return;
    bytes[at - base] = static_cast<char>(bytes[at - base] ^ 0xFF);
}

}  // namespace corvane::service
