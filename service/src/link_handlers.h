// Public links: CreateLink gives a node of the session's account a public handle (16 random
// bytes, kept when the node has one already) and DeleteLink withdraws one. Opening a link is a
// Download by the public handle (transfer handlers), which needs no session.
#pragma once

#include <cstddef>

namespace corvane::service {

class BatchDispatcher;

constexpr size_t kPublicHandleBytes = 16;

void registerLinkHandlers(BatchDispatcher& dispatcher);

}  // namespace corvane::service
