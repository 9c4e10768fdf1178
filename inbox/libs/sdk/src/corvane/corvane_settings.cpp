#include "corvane/corvane_settings.h"

namespace corvane {

CorvaneSettings::~CorvaneSettings() = default;

}  // namespace corvane
