#pragma once

#include <memory>

#include "request/request.h"

namespace corvane {

// The local request of the last action of a facade: drops the session when its turn comes.
class DestroyRequest : public Request {
public:
    explicit DestroyRequest(std::shared_ptr<MutableActionData> actionData);

    void applyResults(RequestHost* manager) override;
    const char* getName() const override { return "Destroy"; }
};

}  // namespace corvane
