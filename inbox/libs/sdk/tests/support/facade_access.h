#pragma once

#include <cstdint>
#include <functional>

#include "client/api_client.h"
#include "client/corvane.h"
#include "client/sdk_api_manager.h"
#include "corvane/mutable_action_data.h"
#include "execution/callback_dispatcher.h"

namespace corvane {
namespace test {

// What the tests reach inside a facade: the path every operation takes, the dispatcher and
// the API manager.
class FacadeAccess {
public:
    static void submit(Corvane& facade, int32_t type, ActionListener* listener) {
        facade.submit(type, listener, [](MutableActionData&) {});
    }
    // Any action type with the parameters the fill writes.
    static void submit(Corvane& facade, int32_t type, ActionListener* listener,
                       const std::function<void(MutableActionData&)>& fill) {
        facade.submit(type, listener, fill);
    }
    static CallbackDispatcher& dispatcher(Corvane& facade) { return *facade.dispatcher_; }
    static SdkApiManager& manager(Corvane& facade) {
        return static_cast<DirectApiClient&>(*facade.client_).getApiManager();
    }
};

}  // namespace test
}  // namespace corvane
