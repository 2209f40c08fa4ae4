// One OpenSSL context per TLS configuration, shared by every connection set up with the same
// settings while the files they name stay unchanged (OpenSSL 1.1 and later, which count a
// context's references; with 1.0 each connection builds its own).
#pragma once

#include <functional>

#include "tls/openssl_api.h"
#include "tls/ssl_settings.h"

// A context for these settings with one reference for the caller: the cached one when the
// settings and the stamps of their files match (*cached set), else a new one made by `build`
// (kept in the cache when the series allows sharing). Null when `build` fails; nothing is
// cached then. Set-ups of the same settings wait for one another's build.
ossl::SSL_CTX *s_contextFor(const SSLsettings &settings, const std::function<ossl::SSL_CTX *()> &build,
                            bool *cached);
