#include "http/proxy_settings.h"

namespace corvane {

void ProxySettings::setCredentials(const std::string& user, const std::string& password) {
    user_ = user;
    password_ = password;
    authentication_ = true;
}

}  // namespace corvane
