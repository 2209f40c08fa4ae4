// Every errno and resolver code that POSIX sockets can report becomes a Winsock number that has
// an English text, so no error text ends in an empty reason.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <netdb.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/socket_errors.h"

namespace {

using namespace plat::posix;

TEST(SocketErrors, EveryMappedCodeHasAText) {
    for (int err = 1; err < 200; ++err) {
        EXPECT_GE(wsa_from_errno(err), 10000) << "errno " << err;
        EXPECT_FALSE(plat::system_message(static_cast<std::uint32_t>(wsa_from_errno(err))).empty()) << "errno " << err;
    }
    for (int eai : {EAI_AGAIN, EAI_BADFLAGS, EAI_FAIL, EAI_FAMILY, EAI_MEMORY, EAI_NONAME, EAI_SERVICE, EAI_SOCKTYPE,
                    EAI_OVERFLOW, EAI_SYSTEM, -9999}) {
        EXPECT_NE(wsa_from_eai(eai, ECONNREFUSED), 0) << "EAI " << eai;
        EXPECT_FALSE(plat::system_message(static_cast<std::uint32_t>(wsa_from_eai(eai, ECONNREFUSED))).empty()) << eai;
    }
    EXPECT_EQ(wsa_from_eai(EAI_NONAME, 0), 11001);
}

} // namespace
#endif
