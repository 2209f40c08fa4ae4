// The Ravlink class: connecting. Every connect first lets go of the connection the object holds,
// then keeps what the C function returns.
#include "diag/error_state.h"
#include "ravlink.h"

namespace {
constexpr int32_t kLevelRecord = 11;
}

int32_t Ravlink::RefuseLevel11() {
    s_setCurrentConnection(nullptr);
    s_clearError();
    s_setError("Security level 11 needs a RavlinkSSLconfig record.", 0);
    return 0;
}

int32_t Ravlink::ConnectToHostPort(const char *address, const char *port, const struct timeval *timeout) {
    Release();
    if (securityLevel == kLevelRecord) return RefuseLevel11();
    return Adopt(RavlinkToHostPort(address, port, timeout, securityLevel, principal));
}

int32_t Ravlink::ConnectToHostPort(std::string address, std::string port, const struct timeval *timeout) {
    return ConnectToHostPort(address.c_str(), port.c_str(), timeout);
}

int32_t Ravlink::ConnectToHostPort(const char *address, const char *port, const struct timeval *timeout,
                                   const RavlinkSSLconfig *config) {
    Release();
    if (config == nullptr) return RefuseLevel11();
    return Adopt(RavlinkToHostPort(address, port, timeout, kLevelRecord, reinterpret_cast<const char *>(config)));
}

int32_t Ravlink::ConnectToHostPort(std::string address, std::string port, const struct timeval *timeout,
                                   const RavlinkSSLconfig &config) {
    return ConnectToHostPort(address.c_str(), port.c_str(), timeout, &config);
}

int32_t Ravlink::LoginAndConnectToHostPort(const char *address, const char *port, const struct timeval *timeout,
                                           const char *user, const char *password, const char *authority) {
    Release();
    if (securityLevel == kLevelRecord) return RefuseLevel11();
    return Adopt(
        RavlinkLoginToHostPort(address, port, timeout, securityLevel, user, password, authority, principal));
}

int32_t Ravlink::LoginAndConnectToHostPort(const std::string &address, const std::string &port,
                                           const struct timeval *timeout,
                                           const std::string &user, const std::string &password,
                                           const std::string &authority) {
    return LoginAndConnectToHostPort(address.c_str(), port.c_str(), timeout, user.c_str(), password.c_str(),
                                     authority.c_str());
}

int32_t Ravlink::LoginAndConnectToHostPort(const std::string &address, const std::string &port,
                                           const struct timeval *timeout,
                                           const std::string &user, const std::string &password) {
    return LoginAndConnectToHostPort(address.c_str(), port.c_str(), timeout, user.c_str(), password.c_str(),
                                     nullptr);
}
