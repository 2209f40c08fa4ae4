// The library inside a host process: sockets a child process must not inherit, the memory of the
// host's threads, and (on Windows) which OpenSSL files a host's working folder cannot slip in.
#include <gtest/gtest.h>

#include "support/loopback.h"
#include "support/registry_fixture.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#else
#include <fcntl.h>
#endif

namespace {

using namespace testsupport;

TEST(HostProcess, ConnectionSocketsAreNotInherited) {
    Listener l;
    timeval tv = timeout_ms(2000);
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    ravlink_socket_t s = RavlinkGetSocketDescriptor(pc);
#ifdef _WIN32
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(s), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
#else
    EXPECT_NE(fcntl(s, F_GETFD) & FD_CLOEXEC, 0);
#endif
    RavlinkClose(pc);
}

#ifdef _WIN32
// Bytes in use in every heap of the process (the C runtime's among them).
std::size_t heap_bytes_in_use() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    std::size_t total = 0;
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heap, &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
        HeapUnlock(heap);
    }
    return total;
}

// Half the threads record an error (per-thread state made), half never touch the library.
DWORD WINAPI host_thread(void *arg) {
    if (reinterpret_cast<std::uintptr_t>(arg) % 2 == 0)
        RavlinkToHostPort("127.0.0.1", "7", nullptr, 4, nullptr); // "Invalid Security Level requested."
    return 0;
}

void run_threads(int count) {
    constexpr int kBatch = 16;
    for (int done = 0; done < count; done += kBatch) {
        HANDLE threads[kBatch];
        for (int i = 0; i < kBatch; ++i)
            threads[i] = CreateThread(nullptr, 0, host_thread, reinterpret_cast<void *>(static_cast<std::uintptr_t>(i)), 0, nullptr);
        WaitForMultipleObjects(kBatch, threads, TRUE, INFINITE);
        for (HANDLE t : threads) CloseHandle(t);
    }
}

// Every thread of the host passes through the DLL's thread notifications: what a thread leaves
// behind accumulates for the life of the process.
TEST(HostProcess, ThreadsLeaveNoMemoryBehind) {
    run_threads(64); // one-time allocations of the runtime and the system come first
    const std::size_t before = heap_bytes_in_use();
    constexpr int kThreads = 2000;
    run_threads(kThreads);
    const std::size_t after = heap_bytes_in_use();
    const double perThread = after > before ? static_cast<double>(after - before) / kThreads : 0.0;
    std::printf("heap in use: %zu -> %zu bytes (%.1f bytes a thread)\n", before, after, perThread);
    EXPECT_LT(perThread, 64.0);
}

std::string backslashed(std::string path) {
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

// A folder of the test's own holding a copy of the library, the probe that loads it, and the
// files given; removed with everything in it.
struct LonelyFolder {
    std::string path = backslashed(temp_file("lonely"));
    std::vector<std::string> files;
    explicit LonelyFolder(std::vector<std::string> sources) {
        CreateDirectoryA(path.c_str(), nullptr);
        sources.push_back(RAVLINK_LIBRARY_FILE);
        sources.push_back(RAVLINK_TLS_BIND_PROBE);
        for (const std::string &source : sources) {
            std::string from = backslashed(source);
            files.push_back(path + from.substr(from.find_last_of('\\')));
            EXPECT_TRUE(CopyFileA(from.c_str(), files.back().c_str(), FALSE)) << from;
        }
    }
    ~LonelyFolder() {
        for (const std::string &f : files) DeleteFileA(f.c_str());
        RemoveDirectoryA(path.c_str());
    }
    // Runs the probe on the copy against a listening port, in the working folder given, which
    // also comes first on the probe's PATH; returns what it printed.
    std::string probe(const std::string &workingFolder, const std::string &extra = "") const {
        Listener l;
        std::string out = run_capture("set \"PATH=" + workingFolder + ";%PATH%\" && cd /d \"" + workingFolder +
                                      "\" && \"" + files.back() + "\" \"" + files[files.size() - 2] + "\" " +
                                      l.port_text() + extra + " 2>&1");
        out.erase(std::remove(out.begin(), out.end(), '\r'), out.end()); // the probe's text mode
        return out;
    }
};

// The library in a folder without OpenSSL, run by a program from that folder, in a working folder
// (also on PATH) that holds a stand-in libssl: the stand-in is never loaded.
TEST(HostProcess, OpenSslIsNeverTakenFromTheWorkingFolderOrPath) {
    LonelyFolder lonely({});
    std::string out = lonely.probe(backslashed(RAVLINK_PLANTED_DIR));
    EXPECT_NE(out.find("[32]64-bit SSL/TLS unavailable.  Error (126) loading " + lonely.path + "\\ssleay32.dll.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Stand-in OpenSSL"), std::string::npos) << out;
    EXPECT_NE(out.find("libssl-3-x64.dll in the process: no\n"), std::string::npos) << out;
}

// OpenSSL 1.0 keeps the locking callbacks it is given until the process ends: once they point
// into the library, a host's FreeLibrary must not unmap it; callbacks the host installed itself stay.
TEST(HostProcess, OpenSsl10CallbacksKeepTheLibraryLoadedAndAHostsOwnStay) {
    const std::string fakes = RAVLINK_FAKE_OPENSSL10_DIR;
    LonelyFolder lonely({fakes + "/ssleay32.dll", fakes + "/libeay32.dll"});
    std::string out = lonely.probe(lonely.path);
    EXPECT_NE(out.find("Error in SSLconfig():"), std::string::npos) << out; // bound, no context made
    EXPECT_NE(out.find("library after FreeLibrary: loaded\n"), std::string::npos) << out;

    out = lonely.probe(lonely.path, " host-locks");
    EXPECT_NE(out.find("host locking callback kept: yes\n"), std::string::npos) << out;
    EXPECT_NE(out.find("library after FreeLibrary: unloaded\n"), std::string::npos) << out;
}
#endif

} // namespace
