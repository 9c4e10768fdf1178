// GetNodes: the account's whole tree (filesystems, nodes parents first, contacts, users, the
// account status and the session's long-poll link), the subtree below one node to a number of
// levels (the node first), or one node.
#pragma once

#include <functional>
#include <string>

namespace corvane::service {

class BatchDispatcher;

// linkBase: the address the long-poll links start with, read when a tree is answered.
void registerTreeHandlers(BatchDispatcher& dispatcher, std::function<std::string()> linkBase);

}  // namespace corvane::service
