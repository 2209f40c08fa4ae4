/*
 * ravlink.h - the public interface of the ravlink client connection library
 * (ravlink64.dll on Windows x86-64, libravlink64.so on Linux). Usable from C89 on and from C++;
 * the class Ravlink at the end is for C++ callers built with the same compiler as the library.
 *
 * A caller opens a connection by address and port or by the name of a server definition, at a
 * security level (RAVLINK_LEVEL_*), and gets an opaque RavlinkContext back; it then sends and
 * receives with time-outs and finally releases the connection with RavlinkClose.
 *
 * Results
 *   Connect functions and RavlinkInitContext return a new context, or NULL on failure.
 *   Functions documented as "1 or 0" return RAVLINK_SUCCESS (1) or RAVLINK_FAILURE (0).
 *   RavlinkRecv is the exception: RAVLINK_RECV_OK (0) for success, a negative value or an error
 *   code otherwise (see its declaration). Getters return a neutral value (0, or
 *   RAVLINK_INVALID_SOCKET) for a NULL context and record nothing.
 *
 * Errors
 *   Every failure leaves an error code and an English text. Codes are the same on every platform:
 *   Windows Sockets numbers for socket and name-resolution failures (RAVLINK_ERROR_* below),
 *   SSPI status numbers for Kerberos failures, 8 for a failed allocation, the C runtime's errno
 *   for file failures, and for TLS connections RAVLINK_TLS_FAILED or RAVLINK_TLS_TIMED_OUT.
 *   A text that the system can explain ends with "\r\nReason: (code, 0xhex) description".
 *   The code and text are kept at three scopes:
 *     - per connection: RavlinkGetErrorCode(pc), RavlinkGetErrorString(pc);
 *     - per thread: RavlinkGetErrorString(NULL) gives the calling thread's last text, so a failed
 *       connect (which returns no context) is explained on the thread that made it;
 *     - library-wide: dwConnectionError, RavlinkErrorArray and RavlinkGetErrorCode(NULL) hold the
 *       last error of any thread (the last writer wins when threads fail at once).
 *   An error text belongs to the library: do not free or change it. It stays valid until the next
 *   error recorded on the same thread or connection replaces it, and a connection's text ends
 *   with RavlinkClose. Copy it to keep it longer. Sends and receives do not clear earlier texts;
 *   each connect and RavlinkInitContext does.
 *
 * Threads
 *   The library starts no threads. Its functions may be called from several threads at once as
 *   long as each connection (context or Ravlink object) is used by one thread at a time:
 *   different connections may work on different threads simultaneously, but sending on one thread
 *   while receiving on another over the same connection is not supported. Per thread, the library
 *   keeps the last error text and code and the "current connection" (the one last passed to
 *   RavlinkSend or RavlinkRecv on that thread), which receives the errors recorded on the thread.
 *   The process-wide settings (RavlinkSetLocalBindings, RavlinkSetRcvBufSize, RavlinkSetSndBufSize,
 *   RavlinkSetTraceFilePtr, RavlinkSetTraceCallback and the exported variables) are changed without
 *   a lock: set them before threads start connecting. Trace lines are written under the library's
 *   lock; a trace callback runs with that lock held and must not wait for another thread that
 *   calls the library.
 *
 * Time-outs
 *   A time-out is a const struct timeval * (seconds and microseconds); NULL waits without limit.
 *   It bounds each wait for the socket, not the call as a whole: a peer that trickles bytes can
 *   hold a long receive for many time-outs (callers that need a deadline keep their own clock,
 *   e.g. receiving in VREAD mode). The connection keeps its own copy of it.
 *     - Connect functions and RavlinkInitContext: bound the TCP connect and the Kerberos exchange,
 *       and become the connection's time-out. NULL: no limit (the system's own TCP connect
 *       time-out still applies).
 *     - RavlinkRecv: installs its time-out in the connection for this and later calls. NULL: waits
 *       until the bytes (FREAD) or any byte (VREAD) arrive or the connection fails.
 *     - RavlinkSend: its argument does not bound the wait (it is only traced). A send waits under
 *       the time-out that the connect or the last RavlinkRecv installed, and fails only when one
 *       whole such time-out passes without any progress; NULL there means no limit.
 *     - TLS (levels 10 and 11, and level 0 turned into TLS by the SSL definitions file): the
 *       handshake runs inside the first send or receive and is bounded by the connection's
 *       time-out but at least 10 seconds (no bound with NULL). A receive time-out with a
 *       microseconds part gives one wait of microseconds x 10000 (under a second): give TLS
 *       receive time-outs in whole seconds.
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

/* Security levels: the level argument of the connect functions and RavlinkInitContext. */
#define RAVLINK_LEVEL_PLAIN 0              /* plain TCP (the SSL definitions file may turn it into TLS) */
#define RAVLINK_LEVEL_KERBEROS_AUTH 1      /* Kerberos mutual authentication, then unprotected data */
#define RAVLINK_LEVEL_KERBEROS_INTEGRITY 2 /* plus per-message integrity (signed messages) */
#define RAVLINK_LEVEL_KERBEROS_PRIVACY 3   /* plus per-message encryption */
#define RAVLINK_LEVEL_TLS_NAMED 10         /* TLS, configuration named by the principal argument */
#define RAVLINK_LEVEL_TLS_RECORD 11        /* TLS, a RavlinkSSLconfig record as the principal argument */

/* Kinds of connection reported by RavlinkGetSecurityType. */
#define RAVLINK_TYPE_NONE 0u     /* plain TCP */
#define RAVLINK_TYPE_KERBEROS 1u /* levels 1 to 3 */
#define RAVLINK_TYPE_TLS 2u      /* TLS; RavlinkGetSecurityLevel then reports 0 */

/* Receive modes, bit 0 of a connection's mode (RavlinkSetMode). */
#define RAVLINK_FREAD 0u /* a receive of n bytes succeeds only with exactly n bytes */
#define RAVLINK_VREAD 1u /* a receive succeeds with whatever arrived; count in RavlinkGetRdlen */

/* Results of the functions that return 1 or 0. */
#define RAVLINK_SUCCESS 1
#define RAVLINK_FAILURE 0

/* Results of RavlinkRecv besides the error codes it passes on. */
#define RAVLINK_RECV_OK 0         /* the bytes were received */
#define RAVLINK_RECV_INVALID (-1) /* NULL or unconnected context, or a negative length */
#define RAVLINK_RECV_NO_CODE (-2) /* failed without a code: FREAD time-out, or no Kerberos token */

/* Error codes (RavlinkGetErrorCode, and RavlinkRecv's result). */
#define RAVLINK_NO_ERROR_RECORDED 0xFFFFFFFFu /* RavlinkGetErrorCode(NULL) when no error is recorded */
#define RAVLINK_ERROR_NO_MEMORY 8             /* an allocation failed */
#define RAVLINK_ERROR_WOULD_BLOCK 10035       /* WSAEWOULDBLOCK */
#define RAVLINK_ERROR_CONNECTION_ABORTED 10053 /* WSAECONNABORTED: the connection was ended */
#define RAVLINK_ERROR_CONNECTION_RESET 10054  /* WSAECONNRESET: the peer closed the connection */
#define RAVLINK_ERROR_TIMED_OUT 10060         /* WSAETIMEDOUT: the TCP connect timed out */
#define RAVLINK_ERROR_CONNECTION_REFUSED 10061 /* WSAECONNREFUSED: nothing listens on the port */
#define RAVLINK_ERROR_HOST_NOT_FOUND 11001    /* WSAHOST_NOT_FOUND: the name does not resolve */
#define RAVLINK_TLS_TIMED_OUT (-1)            /* TLS connection: a read or the handshake timed out */
#define RAVLINK_TLS_FAILED (-6)               /* TLS connection: set-up, handshake or transfer failed */

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
 * credentials and the security context are established over it at 1 to 3, under the
 * time-out). On success the context owns the socket; on failure the caller keeps it unless
 * the failure came after the socket was taken over (Kerberos exchange). Any text may be NULL.
 * Levels 10 and 11 are refused ("Invalid Security level requested."). */
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
/* Copies the version text into buf when not NULL: five two-digit decimal fields joined by
 * dots, "MM.mm.pp.tt.bb" (14 characters plus NUL). Returns 15, the size buf needs, in every
 * case; call with NULL to learn it. */
RAVLINK_API int32_t RavlinkGetVersion(char *buf);

/* ---- Connecting ---- */

/* Connects to address:port (a host name or numeric address, a port number or service name).
 * principal is the service principal name at levels 0-3 (NULL: "sedrin"), a configuration
 * name at level 10, a (RavlinkSSLconfig *) at level 11. user, password and authority sign on
 * to Kerberos (NULL: the caller's own tickets). Everything passed is copied. The time-out
 * bounds the TCP connect and the Kerberos exchange; a TLS handshake runs only at the first
 * send or receive, so TLS configuration faults show there. */
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

/* Sends len bytes. 1 when all were sent, 0 otherwise (the reason is in the error state; bytes
 * sent before the failure stay sent). A length of 0 returns 1, except at levels 2 and 3 (0).
 * The time-out argument is only traced: the wait is bounded by the connection's time-out
 * (see Time-outs above). */
RAVLINK_API int32_t RavlinkSend(RavlinkContext *pc, const void *buf, uint32_t len,
                                const struct timeval *timeout);
/* Receives into buf (FREAD: exactly len bytes; VREAD: at least one and at most len bytes, the
 * count in RavlinkGetRdlen). Results:
 *   RAVLINK_RECV_OK (0)        success; in VREAD also a time-out with nothing received
 *                              (RavlinkGetRdlen then gives 0). A len of 0 returns 0 at once.
 *   RAVLINK_RECV_INVALID (-1)  NULL or unconnected context, or a negative len; on a TLS
 *                              connection also a time-out (RAVLINK_TLS_TIMED_OUT)
 *   RAVLINK_RECV_NO_CODE (-2)  failed without a code: in FREAD fewer than len bytes arrived
 *                              within the time-out (those bytes are consumed and in buf)
 *   any other value            the connection's error code: a Windows Sockets number (10054:
 *                              the peer closed the connection), an SSPI status, or
 *                              RAVLINK_TLS_FAILED
 * No failure closes the connection. */
RAVLINK_API int32_t RavlinkRecv(RavlinkContext *pc, void *buf, int32_t len,
                                const struct timeval *timeout);

/* ---- Transport settings ---- */

/* Local address and port for the next socket a connect creates, on any thread (used once);
 * two NULLs clear it. 1, or 0 when a copy could not be allocated. */
RAVLINK_API int32_t RavlinkSetLocalBindings(const char *address, const char *port);
/* Receive / send buffer size for later sockets (0: system default). -1 only
 * reads. Returns the previous value. */
RAVLINK_API int32_t RavlinkSetRcvBufSize(int32_t size);
RAVLINK_API int32_t RavlinkSetSndBufSize(int32_t size);
/* Host-name verification for level-11 connections made from now on (process-wide; the
 * registry and the SSL definitions file have the key VerifyHostName instead). 1: the
 * server's certificate must match the address the caller connects to, as a DNS name or
 * an IP address (wildcards only as a whole leftmost label); 0 (the default): not checked.
 * Needs VerifyPeer 1. Returns the previous setting. */
RAVLINK_API int32_t RavlinkSetVerifyHostName(int32_t verify);

/* ---- Names ---- */

/* The remote-desktop client's name of the connection (on Linux the SSH client's address).
 * *len: in the buffer size; out the name's length (success) or the size needed (too small).
 * 1 or 0. */
RAVLINK_API int32_t RavlinkGetTSClientName(RavlinkContext *pc, char *buf, size_t *len);
/* Builds a Kerberos service principal name into outName (outSize bytes): serverType "1"/"2"
 * gives "prefix/fqdn" (lower case), "0" gives "prefixHOST" (first label, upper case). 1 or 0;
 * a failure changes the error text but not the error code. */
RAVLINK_API int32_t RavlinkGeneratePrincipalName(const char *ipAddress, const char *serverType,
                                                 const char *prefix, char *outName, int32_t outSize);

/* ---- Trace ---- */

/* Writes one printf-formatted trace line of a level to the trace sinks. */
RAVLINK_API void ravlink_tracelog(int32_t level, const char *format, ...);
/* Writes one trace line without a level (the TLS layer's lines). */
RAVLINK_API void ravlink_tracelog2(const char *format, ...);
/* Sets the caller's trace stream (NULL: off) and the stream level. */
RAVLINK_API void RavlinkSetTraceFilePtr(FILE *stream, int32_t level);
/* Sets the trace callback (NULL: off); it receives every trace line with its level, under the
 * library's lock. The level argument governs the stream sink. */
RAVLINK_API void RavlinkSetTraceCallback(RavlinkTraceCallback callback, int32_t level);

/* ---- Errors ---- */

/* The connection's last error code (0: none); for NULL the library-wide code, or
 * RAVLINK_NO_ERROR_RECORDED (0xFFFFFFFF) when none is recorded. */
RAVLINK_API uint32_t RavlinkGetErrorCode(RavlinkContext *pc);
/* The connection's, else the calling thread's, else the library-wide error text; never NULL
 * (empty when nothing is recorded). The library owns it; see Errors above for how long it
 * stays valid. */
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
    int32_t SetMode(uint32_t mode);              /* the previous mode, or 0 without a connection */
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
