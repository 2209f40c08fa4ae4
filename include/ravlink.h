/*
 * ravlink.h - the public interface of the ravlink client connection library
 * (ravlink64.dll on Windows x86-64, libravlink64.so on Linux).
 *
 * A caller opens a connection by address and port or by the name of a server
 * definition, at a security level, and gets an opaque RavlinkContext back:
 *
 *   level 0   plain TCP (the SSL definitions file may turn it into TLS)
 *   level 1   Kerberos mutual authentication, then unprotected data
 *   level 2   Kerberos authentication plus per-message integrity
 *   level 3   Kerberos authentication plus per-message encryption
 *   level 10  TLS with a named configuration (registry or SSL definitions file)
 *   level 11  TLS with a RavlinkSSLconfig record passed as the principal argument
 *
 * Functions return 1 for success and 0 for failure unless stated otherwise;
 * connect functions return a new context or NULL. Every failure leaves an error
 * code and an English text, readable with RavlinkGetErrorCode and
 * RavlinkGetErrorString (per connection, per thread and library-wide).
 */
#ifndef RAVLINK_H
#define RAVLINK_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef _WIN32
#include <winsock2.h> /* SOCKET, struct timeval */
#else
#include <sys/time.h> /* struct timeval */
#endif

#if defined(_WIN32)
#if defined(RAVLINK_BUILDING)
#define RAVLINK_API __declspec(dllexport)
#elif defined(RAVLINK_STATIC)
#define RAVLINK_API
#else
#define RAVLINK_API __declspec(dllimport)
#endif
#else
#define RAVLINK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The socket handle type: SOCKET on Windows, a file descriptor on POSIX. */
#ifdef _WIN32
typedef SOCKET ravlink_socket_t;
#else
typedef int ravlink_socket_t;
#endif
/* The invalid socket value (all bits set). */
#define RAVLINK_INVALID_SOCKET ((ravlink_socket_t)~(ravlink_socket_t)0)

/* Receive modes, bit 0 of a connection's mode (RavlinkSetMode). */
#define RAVLINK_FREAD 0u /* a receive of n bytes succeeds only with exactly n bytes */
#define RAVLINK_VREAD 1u /* a receive succeeds with whatever arrived; count in RavlinkGetRdlen */

/* An opaque connection. */
typedef struct RavlinkContext RavlinkContext;

/*
 * A TLS configuration (security level 11, passed in the principal argument).
 * Every field is a NUL-terminated text or NULL for its default.
 */
typedef struct RavlinkSSLconfig {
    char *Protocols;   /* decimal bit set: 2 SSLv3, 4 TLS 1.0, 8 TLS 1.1, 16 TLS 1.2 and later
                          (1, SSLv2, is never offered); empty: 30 */
    char *KeyType;     /* "1" a private key of any type (default), "2" an RSA key */
    char *VerifyPeer;  /* OpenSSL verification mode: "0" none, "1" verify the server (default) */
    char *VerifyDepth; /* maximum depth of the server's chain, decimal; empty: 9 */
    char *CipherList;  /* OpenSSL cipher list; empty: "ALL:!aNULL:!eNULL:!EXP:!SSLv2" */
    char *Password;    /* pass phrase of the private key */
    char *CertFile;    /* client certificate chain file (PEM) */
    char *KeyFile;     /* client private key file (PEM) */
    char *CAfile;      /* trusted CA certificates file (PEM) */
    char *CApath;      /* directory of trusted CA certificates */
} RavlinkSSLconfig;

/* Trace callback: receives every trace line with its level. */
typedef void (*RavlinkTraceCallback)(int32_t level, const char *text);

/* ---- Connection context (lifecycle and properties) ---- */

/* Wraps a socket the caller has already connected, at level 0 to 3 (Kerberos
 * credentials and the security context are established over it at 1 to 3).
 * On success the context owns the socket. Any text may be NULL. */
RAVLINK_API RavlinkContext *RavlinkInitContext(ravlink_socket_t sock, const struct timeval *timeout,
                                               int32_t level, const char *user, const char *password,
                                               const char *authority, const char *principal);
/* Releases the context and everything it owns (socket included). 1, or 0 for NULL. */
RAVLINK_API int32_t RavlinkClose(RavlinkContext *pc);
/* The connection's socket, or RAVLINK_INVALID_SOCKET for NULL. */
RAVLINK_API ravlink_socket_t RavlinkGetSocketDescriptor(RavlinkContext *pc);
/* Security level in force (0 for TLS), or 0 for NULL. */
RAVLINK_API int32_t RavlinkGetSecurityLevel(RavlinkContext *pc);
/* 0 none, 1 Kerberos, 2 TLS; 0 for NULL. */
RAVLINK_API uint32_t RavlinkGetSecurityType(RavlinkContext *pc);
/* Receive-mode bits, or 0 for NULL. */
RAVLINK_API uint32_t RavlinkGetMode(RavlinkContext *pc);
/* Bytes delivered by the last receive, or 0 for NULL. */
RAVLINK_API int32_t RavlinkGetRdlen(RavlinkContext *pc);
/* Stores a new mode and returns the previous one (0 for NULL). */
RAVLINK_API uint32_t RavlinkSetMode(RavlinkContext *pc, uint32_t mode);
/* Switches a level-2/3 connection between integrity (2) and encryption (3);
 * returns the level in force afterwards (0 for NULL). */
RAVLINK_API int32_t RavlinkSetSecurityLevel(RavlinkContext *pc, int32_t level);
/* Copies the 14-character version text (plus NUL) into buf when not NULL.
 * Returns 15, the size the buffer needs. */
RAVLINK_API int32_t RavlinkGetVersion(char *buf);

/* ---- Connecting ---- */

/* Connects to address:port. principal is the service principal name at levels
 * 0-3, a configuration name at level 10, a (RavlinkSSLconfig *) at level 11. */
RAVLINK_API RavlinkContext *RavlinkLoginToHostPort(const char *address, const char *port,
                                                   const struct timeval *timeout, int32_t level,
                                                   const char *user, const char *password,
                                                   const char *authority, const char *principal);
/* RavlinkLoginToHostPort with the logged-on user's credentials. */
RAVLINK_API RavlinkContext *RavlinkToHostPort(const char *address, const char *port,
                                              const struct timeval *timeout, int32_t level,
                                              const char *principal);
/* Connects by the name of a server definition (address, port, principal, level). */
RAVLINK_API RavlinkContext *RavlinkLoginToServer(const char *server, const struct timeval *timeout,
                                                 const char *user, const char *password,
                                                 const char *authority);
/* RavlinkLoginToServer with the logged-on user's credentials. */
RAVLINK_API RavlinkContext *RavlinkToServer(const char *server, const struct timeval *timeout);

/* ---- Sending and receiving ---- */

/* Sends len bytes. 1 when all were sent, 0 otherwise. */
RAVLINK_API int32_t RavlinkSend(RavlinkContext *pc, const void *buf, uint32_t len,
                                const struct timeval *timeout);
/* Receives into buf (FREAD: exactly len bytes; VREAD: what arrives, count in
 * RavlinkGetRdlen). 0 success; -1 NULL/unconnected context or negative len;
 * -2 failure without a code (e.g. FREAD time-out); else the error code. */
RAVLINK_API int32_t RavlinkRecv(RavlinkContext *pc, void *buf, int32_t len,
                                const struct timeval *timeout);

/* ---- Transport settings ---- */

/* Local address and port for the next socket a connect creates (used once);
 * two NULLs clear it. 0 when a copy could not be allocated. */
RAVLINK_API int32_t RavlinkSetLocalBindings(const char *address, const char *port);
/* Receive / send buffer size for later sockets (0: system default). -1 only
 * reads. Returns the previous value. */
RAVLINK_API int32_t RavlinkSetRcvBufSize(int32_t size);
RAVLINK_API int32_t RavlinkSetSndBufSize(int32_t size);

/* ---- Names ---- */

/* The remote-desktop client's name of the connection. *len: in the buffer
 * size; out the name's length (success) or the size needed (too small). */
RAVLINK_API int32_t RavlinkGetTSClientName(RavlinkContext *pc, char *buf, size_t *len);
/* Builds a Kerberos service principal name: serverType "1"/"2" gives
 * "prefix/fqdn" (lower case), "0" gives "prefixHOST" (first label, upper case). */
RAVLINK_API int32_t RavlinkGeneratePrincipalName(const char *ipAddress, const char *serverType,
                                                 const char *prefix, char *outName, int32_t outSize);

/* ---- Trace ---- */

/* Writes one printf-formatted trace line of a level to the trace sinks. */
RAVLINK_API void ravlink_tracelog(int32_t level, const char *format, ...);
/* Writes one trace line without a level (the TLS layer's lines). */
RAVLINK_API void ravlink_tracelog2(const char *format, ...);
/* Sets the caller's trace stream (NULL: off) and the stream level. */
RAVLINK_API void RavlinkSetTraceFilePtr(FILE *stream, int32_t level);
/* Sets the trace callback (NULL: off); the level governs the stream sink. */
RAVLINK_API void RavlinkSetTraceCallback(RavlinkTraceCallback callback, int32_t level);

/* ---- Errors ---- */

/* The connection's last error code; for NULL the library-wide code, or
 * 0xFFFFFFFF when none is recorded. */
RAVLINK_API uint32_t RavlinkGetErrorCode(RavlinkContext *pc);
/* The connection's, else the thread's, else the library-wide error text. */
RAVLINK_API char *RavlinkGetErrorString(RavlinkContext *pc);

/* ---- Exported variables ---- */

RAVLINK_API extern uint32_t dwConnectionError;     /* last error code of the process */
RAVLINK_API extern char RavlinkErrorArray[2048];   /* last error text of the process */
RAVLINK_API extern char *RavlinkErrorString;       /* points at RavlinkErrorArray */
RAVLINK_API extern int32_t RavlinkRcvBuf;          /* receive buffer size for new sockets */
RAVLINK_API extern int32_t RavlinkSndBuf;          /* send buffer size for new sockets */
RAVLINK_API extern char *RavlinkTraceFile;         /* trace file path (malloc'd), NULL: none */
RAVLINK_API extern int32_t QXNTracefileLogLevel;   /* lowest level written to the trace file */

#ifdef __cplusplus
} /* extern "C" */

#include <string>

/*
 * Ravlink: one connection as an object, thin over the C functions. The object remembers the
 * security level and the principal (default level 3 and "sedrin") for its connects by address
 * and port, forwards sends and receives, and closes the connection when the last object that
 * holds it goes away. The class records no errors of its own except where noted below and
 * throws nothing: read the reason of a failure with GetConnectionError and RavlinkGetErrorString.
 *
 * Ownership:
 *  - Copies share: copy construction and assignment give the copy the same connection, counted,
 *    and its own copy of the principal text. The connection is closed once, when the last
 *    object holding it is destroyed or connects anew.
 *  - A connect on an object that already holds a connection first lets go of it (closing it
 *    when no copy still holds it); after a failed connect the object holds none.
 *  - Level 11 needs a RavlinkSSLconfig record, which the principal text cannot carry: use the
 *    ConnectToHostPort overloads that take one (they connect at level 11 whatever the object's
 *    level). The other connect-by-address members refuse level 11 with the recorded error
 *    "Security level 11 needs a RavlinkSSLconfig record." (code 0).
 *
 * After a successful connect the object's level is the connection's (0 after a TLS connect).
 */
class RAVLINK_API Ravlink {
public:
    Ravlink();                                   /* level 3, principal "sedrin" */
    explicit Ravlink(int32_t level);             /* principal "sedrin" */
    Ravlink(int32_t level, std::string principal);
    Ravlink(const Ravlink &other);
    Ravlink &operator=(const Ravlink &other);
    ~Ravlink();

    /* Connecting: 1 with a connection, 0 without (the reason is in the error state). */
    int32_t ConnectToHostPort(const char *address, const char *port, const struct timeval *timeout);
    int32_t ConnectToHostPort(std::string address, std::string port, const struct timeval *timeout);
    int32_t ConnectToHostPort(const char *address, const char *port, const struct timeval *timeout,
                              const RavlinkSSLconfig *config);
    int32_t ConnectToHostPort(std::string address, std::string port, const struct timeval *timeout,
                              const RavlinkSSLconfig &config);
    int32_t LoginAndConnectToHostPort(const char *address, const char *port,
                                      const struct timeval *timeout, const char *user,
                                      const char *password, const char *authority);
    int32_t LoginAndConnectToHostPort(const std::string &address, const std::string &port,
                                      const struct timeval *timeout, const std::string &user,
                                      const std::string &password, const std::string &authority);
    int32_t LoginAndConnectToHostPort(const std::string &address, const std::string &port,
                                      const struct timeval *timeout, const std::string &user,
                                      const std::string &password);
    /* By server definition: its level and principal are used, not the object's. */
    int32_t ConnectToServer(const char *server, const struct timeval *timeout);
    int32_t ConnectToServer(const std::string &server, const struct timeval *timeout);
    int32_t LoginAndConnectToServer(const char *server, const struct timeval *timeout,
                                    const char *user, const char *password, const char *authority);
    int32_t LoginAndConnectToServer(const std::string &server, const struct timeval *timeout,
                                    const std::string &user, const std::string &password,
                                    const std::string &authority);
    int32_t LoginAndConnectToServer(const std::string &server, const struct timeval *timeout,
                                    const std::string &user, const std::string &password);

    /* Data: RavlinkSend's and RavlinkRecv's results. The length is cut to 32 bits. Receive into
     * a string first gives it exactly len characters; in VREAD, GetRdlen tells how many arrived. */
    int32_t Send(const void *buf, uint64_t len, const struct timeval *timeout);
    int32_t Send(const std::string &data, const struct timeval *timeout);
    int32_t Receive(void *buf, uint64_t len, const struct timeval *timeout);
    int32_t Receive(std::string &data, uint64_t len, const struct timeval *timeout);

    /* Properties. GetSecurityLevel is the object's level; SetSecurityLevel stores a level for
     * the next connect, or switches the connection (RavlinkSetSecurityLevel) when there is one. */
    uint32_t GetConnectionError() const;
    int32_t GetRdlen() const;
    int32_t GetSecurityLevel() const;
    int32_t GetTSClientName(char *buf, uint64_t *len) const;
    uint32_t SetMode(uint32_t mode);
    int32_t SetSecurityLevel(int32_t level);

private:
    struct Share;

    int32_t Adopt(RavlinkContext *pc);
    void Release();
    int32_t RefuseLevel11();

    RavlinkContext *context;
    int32_t securityLevel;
    char *principal;
    Share *share; /* the count of objects holding context; null without a connection */
};
#endif /* __cplusplus */

#endif /* RAVLINK_H */
