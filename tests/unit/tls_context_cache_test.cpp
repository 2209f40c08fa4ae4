// One OpenSSL context per configuration: connections with the same settings share it, another
// configuration or a replaced file gets a new one, and a wrong pass phrase never gets the
// context that the right one built.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/context.h"
#include "api/ssl_config_pack.h"
#include "platform/platform.h"
#include "support/tls_fixtures.h"
#include "tls/ssl_session.h"

#ifndef _WIN32
namespace {

using namespace testsupport;

// A connection to a real OpenSSL echo server: the context it was given, and whether an echo
// went through (its error text otherwise).
struct Outcome {
    ossl::SSL_CTX *context = nullptr;
    std::string problem;
};

Outcome connect_once(const SslFields &fields, TlsTestServer::Options server = {}) {
    auto [c, s] = socket_pair();
    std::thread peer([s = s, server] {
        serve_tls(s, server, TlsTestServer::echo);
        close_raw(s);
    });
    RavlinkContext *pc = s_allocContext();
    pc->socket = c;
    plat::set_nonblocking(c, true); // as every connection the library makes
    pc->securityType = kSecurityTls;
    SslFields f = fields;
    RavlinkSSLconfig record = f.record();
    pc->sslConfig = s_packSSLconfig(&record);
    s_newSSLsession(pc, nullptr, 0);
    Outcome o;
    char back[4];
    if (SSLsendRavlink(pc->tlsSession, "ping", 4) != 1 || SSLrecvRavlink(pc->tlsSession, back, 4, 5, 1, 0) != 4)
        o.problem = pc->tlsErrorText;
    o.context = pc->tlsSession->sslContext;
    RavlinkClose(pc);
    peer.join();
    return o;
}

void copy_file(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to + ".new", std::ios::binary);
    out << in.rdbuf();
    out.close();
    std::rename((to + ".new").c_str(), to.c_str()); // replaced, as an administrator's tool would
}

TEST(TlsContextCache, SameSettingsShareAContextOtherSettingsOrFilesGetTheirOwn) {
    if (pki_dir().empty()) GTEST_SKIP() << "the test PKI could not be made";
    const std::string ca = pki_dir() + "/cache-test-ca-" + std::to_string(::getpid()) + ".pem";
    copy_file(pki("ca.pem"), ca);
    SslFields trustingCopy;
    trustingCopy.CAfile = ca;
    SslFields otherCiphers = trustingCopy;
    otherCiphers.CipherList = "ECDHE+AESGCM";

    Outcome first = connect_once(trustingCopy), again = connect_once(trustingCopy);
    Outcome other = connect_once(otherCiphers);
    EXPECT_EQ(first.problem + again.problem + other.problem, "");
    EXPECT_EQ(first.context, again.context);
    EXPECT_NE(first.context, other.context);

    // The CA file replaced by another authority's: the next connection trusts the new file only.
    copy_file(pki("untrusted-ca.pem"), ca);
    Outcome replaced = connect_once(trustingCopy);
    EXPECT_NE(replaced.problem.find("certificate verify failed"), std::string::npos) << replaced.problem;
    EXPECT_EQ(connect_once(trustingCopy, TlsTestServer::untrusted()).problem, "");
    copy_file(pki("ca.pem"), ca);
    EXPECT_EQ(connect_once(trustingCopy).problem, "");
    std::remove(ca.c_str());

    // The right pass phrase made a context; a wrong one must still fail to load the key.
    SslFields keyed = trusting();
    keyed.CertFile = pki("client.pem");
    keyed.KeyFile = pki("client-enc.key");
    keyed.Password = "correct horse battery staple";
    EXPECT_EQ(connect_once(keyed).problem, "");
    keyed.Password = "not the phrase";
    EXPECT_NE(connect_once(keyed).problem.find("PKCS12 routines"), std::string::npos);
}

TEST(TlsContextCache, SixteenThreadsConnectingWithOneConfigurationShareOneContext) {
    if (pki_dir().empty()) GTEST_SKIP() << "the test PKI could not be made";
    SslFields fields = trusting();
    fields.VerifyDepth = "7"; // settings no other test uses: the first of these threads builds
    std::vector<Outcome> outcomes(16);
    std::vector<std::thread> threads;
    for (Outcome &o : outcomes) threads.emplace_back([&o, &fields] { o = connect_once(fields); });
    for (std::thread &t : threads) t.join();
    std::set<ossl::SSL_CTX *> contexts;
    for (const Outcome &o : outcomes) {
        EXPECT_EQ(o.problem, "");
        contexts.insert(o.context);
    }
    EXPECT_EQ(contexts.size(), 1u);
}

} // namespace
#endif
