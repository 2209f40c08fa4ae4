// The trace log's sinks, levels, header and hex dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "diag/error_state.h"
#include "diag/trace.h"
#include "support/registry_fixture.h"
#include "support/trace_capture.h"

namespace {

class TraceTest : public ::testing::Test {
protected:
    void TearDown() override {
        RavlinkSetTraceFilePtr(nullptr, 99);
        std::free(RavlinkTraceFile);
        RavlinkTraceFile = nullptr;
        QXNTracefileLogLevel = 3;
        for (FILE *f : streams_) std::fclose(f);
    }
    // A fresh temporary stream, closed after the test.
    FILE *stream() {
        FILE *f = std::tmpfile();
        if (f != nullptr) streams_.push_back(f);
        return f;
    }
    // All a stream holds so far.
    static std::string read(FILE *f) {
        std::fflush(f);
        std::rewind(f);
        std::string out;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
        return out;
    }
    std::vector<FILE *> streams_;
};

// The callback gets every line with its level, long lines cut; it may call the library on its
// own thread (the lock is re-entrant); setting it sets the level that the stream shares.
TEST_F(TraceTest, CallbackGetsEveryLineMayCallTheLibraryAndSetsTheStreamLevel) {
    FILE *f = stream();
    ASSERT_NE(f, nullptr);
    RavlinkSetTraceFilePtr(f, 1);
    testsupport::TraceCapture trace([](const std::string &line) {
        if (line == "outer") s_setError("recorded by the callback", 0);
    }); // the stream level is 99 from here on
    ravlink_tracelog(1, "low %d", 1);
    ravlink_tracelog2("tls %s", "line");
    ravlink_tracelog(6, "%s", std::string(3000, 'x').c_str());
    ravlink_tracelog(5, "outer");
    EXPECT_EQ(trace.all(), "[1]low 1[1]tls line[6]" + std::string(2047, 'x') + "[5]outer[6]recorded by the callback\n");
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "recorded by the callback");
    EXPECT_EQ(read(f), "");
}

TEST_F(TraceTest, StreamGetsHeaderAndTextUnchangedAtItsLevelTracelog2AtLevelOneOnly) {
    FILE *f = stream();
    ASSERT_NE(f, nullptr);
    RavlinkSetTraceFilePtr(f, 4);
    ravlink_tracelog(3, "below the stream level\n");
    ravlink_tracelog(4, "rate %s\n", "100%d");
    ravlink_tracelog2("\r\nnot at stream level 4");
    std::regex header(R"(^\npid = \d+, tid = \d+, \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}:  rate 100%d\n$)");
    EXPECT_TRUE(std::regex_match(read(f), header)) << read(f);
    ASSERT_NE(f = stream(), nullptr);
    RavlinkSetTraceFilePtr(f, 1);
    ravlink_tracelog2("\r\nSSL/TLS client requested.");
    EXPECT_EQ(read(f), "\r\nSSL/TLS client requested."); // no header
}

TEST_F(TraceTest, FileLevelDecidesWhatReachesTheFileButNotForTracelog2) {
    std::string path = testsupport::temp_file("ravlink_trace_level.txt");
    std::remove(path.c_str());
    RavlinkTraceFile = static_cast<char *>(std::malloc(path.size() + 1)); // the library frees it
    std::memcpy(RavlinkTraceFile, path.c_str(), path.size() + 1);
    ravlink_tracelog(2, "level two\n");
    ravlink_tracelog(3, "level three\n");
    QXNTracefileLogLevel = 50;
    ravlink_tracelog2("\r\ntls line");
    std::stringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(out.str().find("level two"), std::string::npos);
    EXPECT_NE(out.str().find("level three"), std::string::npos);
    EXPECT_NE(out.str().find("tls line"), std::string::npos);
    std::remove(path.c_str());
}

TEST_F(TraceTest, HexDumpLinesArePaddedAndDumpsFollowTheStreamLevel) {
    FILE *f = stream();
    ASSERT_NE(f, nullptr);
    unsigned char data[17] = "ABCDEFGHIJKLMNOP";
    data[16] = 0x05;
    EXPECT_EQ(s_hexdumpline(0, data, 17, f), 16);
    EXPECT_EQ(s_hexdumpline(16, data, 17, f), 32);
    EXPECT_EQ(read(f), "   0: 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50   ABCDEFGHIJKLMNOP\n"
                       "  10:  5 " + std::string(45, ' ') + "  ." + std::string(15, ' ') + "\n");
    ASSERT_NE(f = stream(), nullptr);
    RavlinkSetTraceFilePtr(f, 2);
    ravlink_tracedump(2, 0, "abc");
    ravlink_tracedump(2, 3, nullptr);
    ravlink_tracedump(1, 3, "abc"); // below the stream level
    EXPECT_EQ(read(f), "");
    ravlink_tracedump(2, 3, "abc");
    std::regex dump(R"(^\npid = \d+, tid = \d+, [^\n]*:  \n   0: 61 62 63 {40}  abc {13}\n$)");
    EXPECT_TRUE(std::regex_match(read(f), dump)) << read(f);
}

// Settings read at load: each case runs the probe program in a child process.
TEST(TraceSettingsAtLoad, EnvironmentDecidesTraceFileAndLevel) {
    const struct {
        const char *file, *level, *expected;
    } cases[] = {
        {nullptr, nullptr, "tracefile=(null)\nlevel=3\n"},     {"", "0", "tracefile=(null)\nlevel=3\n"},
        {"trace.log", "abc", "tracefile=trace.log\nlevel=3\n"}, {"trace.log", "1", "tracefile=trace.log\nlevel=1\n"},
        {nullptr, "-7", "tracefile=(null)\nlevel=-7\n"},
    };
    for (const auto &c : cases) {
        testsupport::set_env("QXN_ravlink_tracefile", c.file);
        testsupport::set_env("QXN_ravlink_tracelevel", c.level);
        std::string out = testsupport::run_capture(std::string("\"") + RAVLINK_TEST_PROBE + "\"");
        out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
        EXPECT_EQ(out, c.expected) << (c.file ? c.file : "(unset)") << " " << (c.level ? c.level : "(unset)");
    }
    testsupport::set_env("QXN_ravlink_tracefile", nullptr);
    testsupport::set_env("QXN_ravlink_tracelevel", nullptr);
}

} // namespace
