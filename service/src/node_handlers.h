// The node change requests: AddNodes, RenameNode, DeleteNode, MoveNode and RewriteKeys. Each
// checks the session and the nodes it names, stores what it received as opaque bytes, echoes
// the client id, and logs its response as a change for the account's other sessions.
#pragma once

namespace corvane::service {

class BatchDispatcher;

void registerNodeHandlers(BatchDispatcher& dispatcher);

}  // namespace corvane::service
