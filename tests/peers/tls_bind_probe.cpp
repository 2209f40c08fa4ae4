// Loads a copy of the library from the path given (so that it looks for OpenSSL beside that
// copy), makes two level-11 connections to the port given and sends one byte on each. Prints
// every trace line and, per connection, the send's result and the error text. On Windows it also
// tells whether a libssl-3-x64.dll came into the process and whether the copy stays loaded after
// FreeLibrary; with a third argument "host-locks" it first installs OpenSSL locking callbacks of
// its own through the libeay32.dll beside the copy, as a host running OpenSSL itself would, and
// tells whether they are still in place at the end. RAVLINK_PROBE_PROTOCOLS, when set, is the
// record's Protocols text.
#include "ravlink.h" // before windows.h: it brings Winsock 2

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
void print_line(int32_t level, const char *text) { std::printf("[%d]%s", level, text); }
#ifdef _WIN32
void host_lock(int, int, const char *, int) {}
using LockingCallback = void (*)(int, int, const char *, int);
#endif
} // namespace

int main(int argc, char **argv) {
    if (argc != 3 && argc != 4) return 2;
#ifdef _WIN32
    HMODULE libeay = nullptr;
    if (argc == 4) {
        std::string beside = argv[1];
        libeay = LoadLibraryA((beside.substr(0, beside.find_last_of("\\/") + 1) + "libeay32.dll").c_str());
        auto set = reinterpret_cast<void (*)(LockingCallback)>(GetProcAddress(libeay, "CRYPTO_set_locking_callback"));
        if (set == nullptr) return 1;
        set(host_lock);
    }
    HMODULE lib = LoadLibraryA(argv[1]);
    if (lib == nullptr) {
        std::printf("LoadLibrary failed: %lu\n", GetLastError());
        return 1;
    }
    auto entry = [lib](const char *name) { return reinterpret_cast<void *>(GetProcAddress(lib, name)); };
#else
    void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        std::printf("dlopen failed: %s\n", dlerror());
        return 1;
    }
    auto entry = [lib](const char *name) { return dlsym(lib, name); };
#endif
    auto setTrace = reinterpret_cast<decltype(&RavlinkSetTraceCallback)>(entry("RavlinkSetTraceCallback"));
    auto connect = reinterpret_cast<decltype(&RavlinkToHostPort)>(entry("RavlinkToHostPort"));
    auto send = reinterpret_cast<decltype(&RavlinkSend)>(entry("RavlinkSend"));
    auto close = reinterpret_cast<decltype(&RavlinkClose)>(entry("RavlinkClose"));
    auto errorText = reinterpret_cast<decltype(&RavlinkGetErrorString)>(entry("RavlinkGetErrorString"));
    if (!setTrace || !connect || !send || !close || !errorText) return 1;
    setTrace(print_line, 99);
    struct timeval tv = {5, 0};
    RavlinkSSLconfig config{};
    // The record's Protocols text, when the environment gives one (otherwise an empty record).
    std::string protocols;
    if (const char *p = std::getenv("RAVLINK_PROBE_PROTOCOLS")) {
        protocols = p;
        config.Protocols = &protocols[0];
    }
    for (int i = 0; i < 2; ++i) {
        RavlinkContext *pc = connect("127.0.0.1", argv[2], &tv, 11, reinterpret_cast<const char *>(&config));
        if (pc == nullptr) {
            std::printf("\nconnect failed: %s\n", errorText(nullptr));
            return 1;
        }
        int32_t sent = send(pc, "x", 1, &tv);
        std::printf("\nsend=%d\nerror=<%s>\n", sent, errorText(nullptr));
        close(pc);
    }
#ifdef _WIN32
    std::printf("libssl-3-x64.dll in the process: %s\n", GetModuleHandleA("libssl-3-x64.dll") ? "yes" : "no");
    if (libeay != nullptr) {
        auto get = reinterpret_cast<LockingCallback (*)()>(GetProcAddress(libeay, "CRYPTO_get_locking_callback"));
        std::printf("host locking callback kept: %s\n", get != nullptr && get() == host_lock ? "yes" : "no");
    }
    FreeLibrary(lib);
    std::printf("library after FreeLibrary: %s\n", GetModuleHandleA(argv[1]) ? "loaded" : "unloaded");
#endif
    return 0;
}
