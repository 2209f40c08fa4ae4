// The cache of OpenSSL contexts, keyed by everything a context is built from: the settings'
// numbers and texts (the pass phrase included, so that a wrong one never gets a context that a
// right one built) and the stamps of the files they name.
#include "tls/ssl_context_cache.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>

#include "platform/file_stamp.h"
#include "platform/platform.h"

namespace {

using ossl::api;

// Contexts kept at most; the one used longest ago goes first.
constexpr std::size_t kMaxContexts = 16;
// OPENSSL_INIT_BASE_ONLY: asks only whether OpenSSL is still usable (0 once it was cleaned up).
constexpr std::uint64_t kInitBaseOnly = 0x00040000;

struct Key {
    std::string contents;
    plat::FileStamp files[4];

    explicit Key(const SSLsettings &s) {
        const char *texts[] = {s.cipherList, s.password, s.certFile, s.keyFile, s.caFile, s.caPath};
        for (std::int32_t n : {s.protocols, s.keyType, s.verifyPeer, s.verifyDepth}) contents += std::to_string(n) + '\n';
        for (const char *t : texts) contents.append(t).push_back('\0');
        const char *paths[] = {s.certFile, s.keyFile, s.caFile, s.caPath};
        for (int i = 0; i < 4; ++i)
            if (paths[i][0] != '\0') files[i] = plat::file_stamp(paths[i]);
    }
    ~Key() { plat::wipe_memory(&contents[0], contents.size()); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    bool same_settings(const Key &o) const { return contents == o.contents; }
    bool operator==(const Key &o) const {
        if (contents != o.contents) return false;
        for (int i = 0; i < 4; ++i)
            if (files[i] != o.files[i]) return false;
        return true;
    }
};

struct Entry {
    Key key;
    ossl::SSL_CTX *context; // the cache's own reference
    Entry(const SSLsettings &s, ossl::SSL_CTX *c) : key(s), context(c) {}
};

// Set when the cache's destructor has run (the process is ending).
std::atomic<bool> s_cacheGone{false};

// The cache lives from its first use to the library's unload or the end of the process. Its
// contexts must be freed while OpenSSL is still usable: at exit the order of OpenSSL's clean-up
// and this destructor is not the library's to choose (threads and other users of OpenSSL decide
// when OpenSSL registers its own), so OpenSSL's clean-up also releases the cache first, through
// the handler registered with it. Once OpenSSL reports itself cleaned up, nothing is freed.
struct Cache {
    std::mutex lock;
    std::list<Entry> entries; // most recently used first
    ~Cache() {
        clear(true);
        s_cacheGone = true;
    }
    void clear(bool askWhetherAlive) {
        std::lock_guard<std::mutex> guard(lock);
        const bool alive = !askWhetherAlive || (api.OPENSSL_init_crypto != nullptr &&
                                                api.OPENSSL_init_crypto(kInitBaseOnly, nullptr) == 1);
        if (alive)
            for (Entry &e : entries) api.SSL_CTX_free(e.context);
        entries.clear();
    }
};

Cache &cache() {
    static Cache c;
    return c;
}

// Run by OpenSSL's clean-up before it tears itself down (it reports itself stopped by then, so
// the handler does not ask).
void release_before_openssl_cleanup() {
    if (!s_cacheGone) cache().clear(false);
}

bool sharing() { return api.SSL_CTX_up_ref != nullptr && api.OPENSSL_init_crypto != nullptr; }

} // namespace

ossl::SSL_CTX *s_contextFor(const SSLsettings &settings, const std::function<ossl::SSL_CTX *()> &build,
                            bool *cached) {
    *cached = false;
    if (!sharing()) return build();
    // OpenSSL sets up its clean-up at exit first, so that the cache, made after it, goes before it.
    api.OPENSSL_init_crypto(0, nullptr);
    static const bool handlerRegistered =
        api.OPENSSL_atexit != nullptr && api.OPENSSL_atexit(release_before_openssl_cleanup) == 1;
    (void)handlerRegistered;
    Cache &c = cache();
    Key key(settings);
    std::lock_guard<std::mutex> guard(c.lock);
    for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
        if (it->key == key) {
            c.entries.splice(c.entries.begin(), c.entries, it);
            api.SSL_CTX_up_ref(it->context);
            *cached = true;
            return it->context;
        }
        if (it->key.same_settings(key)) { // a file changed: that context serves no new connection
            api.SSL_CTX_free(it->context);
            c.entries.erase(it);
            break;
        }
    }
    ossl::SSL_CTX *context = build();
    if (context == nullptr) return nullptr;
    if (c.entries.size() >= kMaxContexts) {
        api.SSL_CTX_free(c.entries.back().context);
        c.entries.pop_back();
    }
    c.entries.emplace_front(settings, context);
    api.SSL_CTX_up_ref(context);
    return context;
}
