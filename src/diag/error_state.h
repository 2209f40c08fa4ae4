// The error state: the last error's code and text, library-wide, per thread and per
// connection. Every operation runs under the library lock.
#pragma once

#include <cstdint>

#include "ravlink.h"

// Clears the error state before a new connect.
void s_clearError();
// Stores the library-wide code (dwConnectionError) as one atomic word, since threads store it at
// once and callers read it without the lock (RavlinkGetErrorCode loads it the same way).
void s_storeConnectionError(std::uint32_t code);
// Records a new error, replacing the previous text. A null text stands for "Ravlink library error".
void s_setError(const char *text, std::uint32_t code);
// Records a new error after the previous text ("previous\nnew").
void s_appendError(const char *text, std::uint32_t code);
// Appends the connection's TLS error text with the connection's error code.
void s_appendTlsError(RavlinkContext *pc);
// Traces the library-wide error text at level 6 between prefix and suffix, when there is one (or
// always, with whenEmpty). Read under the library lock: other threads record errors meanwhile.
void s_traceLibraryError(const char *prefix, const char *suffix, bool whenEmpty = false);
// Builds the error text (with the system's reason for a non-zero code) and stores it at every
// scope, without touching any code.
void s_formatError(const char *text, std::uint32_t code);

// Records a printf-formatted error text (built in a 1024-byte buffer first).
void s_setErrorf(std::uint32_t code, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The calling thread's current connection: errors recorded on the thread also land in it.
void s_setCurrentConnection(RavlinkContext *pc);

// Process attach: clears the library-wide state and decides on per-thread state.
void s_initErrorState();
// Thread attach / detach: clears, or frees and clears, the calling thread's state.
void s_threadAttach();
void s_threadDetach();
