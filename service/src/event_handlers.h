// The persistent requests that frame every batch: GetStatus answers the account status and the
// session's long-poll link; GetEvents answers the changes after the client's status that other
// sessions made, or a full snapshot when that status is unknown, too old, or one was forced.
#pragma once

#include <functional>
#include <string>

namespace corvane::service {

class BatchDispatcher;

// linkBase gives the link prefix at answer time (the port is known once listening): the
// session's link is linkBase() + "/events/" + its poll token.
void registerEventHandlers(BatchDispatcher& dispatcher, std::function<std::string()> linkBase);

}  // namespace corvane::service
