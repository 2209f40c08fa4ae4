// s_acquireCredentials: the outbound Kerberos credentials of a connection.
#include <cstring>

#include "core/context.h"
#include "diag/error_state.h"
#include "kerberos/computer_name.h"
#include "kerberos/kerberos.h"
#include "platform/computer_name.h"
#include "platform/security_package.h"

int s_acquireCredentials(RavlinkContext *pc, const char *user, const char *password, const char *authority) {
    if (sspi::handle_valid(pc->credentials)) return 1;

    // With a user name the identity carries the authority (the computer's DNS domain by default)
    // and the password; the user name itself goes as the principal.
    sspi::AuthIdentity identity{};
    char domain[128];
    if (user != nullptr) {
        if (authority == nullptr) {
            if (s_getComputerName(domain, sizeof domain, 'D') == 0) {
                s_setError("Unable to get domain name.", plat::last_error());
                return 0;
            }
            authority = domain;
        }
        // A user without a password signs on with an empty one.
        if (password == nullptr) password = "";
        identity.Domain = reinterpret_cast<unsigned char *>(const_cast<char *>(authority));
        identity.DomainLength = static_cast<std::uint32_t>(std::strlen(authority));
        identity.Password = reinterpret_cast<unsigned char *>(const_cast<char *>(password));
        identity.PasswordLength = static_cast<std::uint32_t>(std::strlen(password));
        identity.Flags = sspi::kIdentityAnsi;
    }

    sspi::Status status = sspi::AcquireCredentialsHandleA(user, sspi::kKerberosPackage, sspi::kCredOutbound,
                                                          nullptr, user != nullptr ? &identity : nullptr,
                                                          &pc->credentials);
    if (status == sspi::kSecOk) return 1;
    sspi::invalidate(pc->credentials);
    s_setError("Unable to acquire credential handle.", status);

    // Whatever failed, named user or not, the host's own identity (the network-service logon) is
    // tried once more: a service without a logged-on user still has that one.
    status = sspi::AcquireCredentialsHandleA(nullptr, sspi::kKerberosPackage, sspi::kCredOutbound,
                                             &sspi::kNetworkServiceLogon, nullptr, &pc->credentials);
    if (status == sspi::kSecOk) {
        s_clearError();
        return 1;
    }
    sspi::invalidate(pc->credentials);
    return 0;
}
