// Every errno and resolver code that POSIX sockets can report becomes a Winsock number that has
// an English text, so no error text ends in an empty reason.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <netdb.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/socket_errors.h"

namespace {

TEST(SocketErrors, EveryMappedCodeHasAText) {
    for (int err = 1; err < 200; ++err) {
        int code = plat::posix::wsa_from_errno(err);
        EXPECT_GE(code, 10000) << "errno " << err;
        EXPECT_FALSE(plat::system_message(static_cast<std::uint32_t>(code)).empty()) << "errno " << err;
    }
    const int resolverCodes[] = {EAI_AGAIN, EAI_BADFLAGS, EAI_FAIL,   EAI_FAMILY,   EAI_MEMORY,  EAI_NONAME,
                                 EAI_SERVICE, EAI_SOCKTYPE, EAI_OVERFLOW, EAI_SYSTEM, -9999};
    for (int eai : resolverCodes) {
        int code = plat::posix::wsa_from_eai(eai, ECONNREFUSED);
        EXPECT_NE(code, 0) << "EAI " << eai;
        EXPECT_FALSE(plat::system_message(static_cast<std::uint32_t>(code)).empty()) << "EAI " << eai;
    }
    EXPECT_EQ(plat::posix::wsa_from_errno(EINPROGRESS), 10035); // a connect under way
    EXPECT_EQ(plat::posix::wsa_from_errno(ECONNREFUSED), 10061);
    EXPECT_EQ(plat::posix::wsa_from_eai(EAI_NONAME, 0), 11001);
}

} // namespace
#endif
