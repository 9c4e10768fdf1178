#pragma once

namespace corvane {

// Mix-in of the objects that the application hands to the SDK and that the SDK keeps for a
// while (listeners, task managers). The SDK calls setReleased(false) when it starts holding
// the object and setReleased(true) when it lets it go.
class SharedOwnership {
public:
    virtual void setReleased(bool released) {}
    virtual ~SharedOwnership() = default;
};

}  // namespace corvane
