// The Ravlink class: connecting by the name of a server definition, whose level and principal are
// used instead of the object's.
#include "ravlink.h"

int32_t Ravlink::ConnectToServer(const char *server, const struct timeval *timeout) {
    Release();
    return Adopt(RavlinkToServer(server, timeout));
}

int32_t Ravlink::ConnectToServer(const std::string &server, const struct timeval *timeout) {
    return ConnectToServer(server.c_str(), timeout);
}

int32_t Ravlink::LoginAndConnectToServer(const char *server, const struct timeval *timeout, const char *user,
                                         const char *password, const char *authority) {
    Release();
    return Adopt(RavlinkLoginToServer(server, timeout, user, password, authority));
}

int32_t Ravlink::LoginAndConnectToServer(const std::string &server, const struct timeval *timeout,
                                         const std::string &user, const std::string &password,
                                         const std::string &authority) {
    return LoginAndConnectToServer(server.c_str(), timeout, user.c_str(), password.c_str(), authority.c_str());
}

int32_t Ravlink::LoginAndConnectToServer(const std::string &server, const struct timeval *timeout,
                                         const std::string &user, const std::string &password) {
    return LoginAndConnectToServer(server.c_str(), timeout, user.c_str(), password.c_str(), nullptr);
}
