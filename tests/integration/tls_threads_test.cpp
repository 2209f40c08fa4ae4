// One TLS connection read by one thread while another writes it, from its first call on (many
// threads on many connections: thread_stress_test.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "support/tls_fixtures.h"

#ifndef _WIN32
namespace {

using namespace testsupport;

// The byte at an offset of the stream each direction carries.
unsigned char pattern(std::uint64_t offset) { return static_cast<unsigned char>(offset * 131 + (offset >> 20)); }

TEST(TlsThreads, OneThreadReadsWhileAnotherWritesFromTheFirstCallOn) {
    if (pki_dir().empty()) GTEST_SKIP() << "the test PKI could not be made";
    Service tls([](ravlink_socket_t s) { serve_tls(s, {}, [](SSL *ssl) { echo_until_closed(ssl); }); });
    SslFields f = trusting();
    RavlinkSSLconfig record = f.record();
    constexpr std::uint64_t kChunk = 64 * 1024;
    // A fresh connection each round, both threads starting at once; the first round moves
    // 100 MB each way.
    for (std::uint64_t total : {100ull << 20, 1ull << 20, 1ull << 20, 1ull << 20}) {
        SCOPED_TRACE(total);
        timeval tv = {30, 0};
        RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", tls.port_text().c_str(), &tv, 11,
                                               reinterpret_cast<const char *>(&record));
        ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
        std::atomic<int> ready{0};
        std::string writeProblem, readProblem;
        std::thread writer([&] {
            std::vector<unsigned char> chunk(kChunk);
            for (++ready; ready < 2;) {
            }
            for (std::uint64_t at = 0; at < total; at += kChunk) {
                for (std::uint64_t i = 0; i < kChunk; ++i) chunk[i] = pattern(at + i);
                if (RavlinkSend(pc, chunk.data(), kChunk, &tv) != 1) {
                    writeProblem = "send at " + std::to_string(at) + ": " + RavlinkGetErrorString(pc);
                    return;
                }
            }
        });
        std::thread reader([&] {
            std::vector<unsigned char> chunk(kChunk);
            for (++ready; ready < 2;) {
            }
            for (std::uint64_t at = 0; at < total; at += kChunk) {
                int32_t rc = RavlinkRecv(pc, chunk.data(), static_cast<int32_t>(kChunk), &tv);
                if (rc != 0) {
                    readProblem = "recv " + std::to_string(rc) + " at " + std::to_string(at) + ": " +
                                  RavlinkGetErrorString(pc);
                    return;
                }
                for (std::uint64_t i = 0; i < kChunk; ++i)
                    if (chunk[i] != pattern(at + i)) {
                        readProblem = "byte " + std::to_string(at + i) + " differs";
                        return;
                    }
            }
        });
        writer.join();
        reader.join();
        EXPECT_EQ(writeProblem, "");
        EXPECT_EQ(readProblem, "");
        RavlinkClose(pc);
    }
}

} // namespace
#endif
