// AddMetadata: attaches an uploaded metadata blob (named by its upload token) to a node under
// a kind, answers the node's complete metadata entries and logs the change.
#pragma once

namespace corvane::service {

class BatchDispatcher;

void registerMetadataHandlers(BatchDispatcher& dispatcher);

}  // namespace corvane::service
