// The trace log. A line goes to the trace file (opened and closed for each line), to the
// caller's stream and to the caller's callback, all under the library lock.
#include "diag/trace.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"

extern "C" {
RAVLINK_API char *RavlinkTraceFile = nullptr;
RAVLINK_API int32_t QXNTracefileLogLevel = 3;
}

namespace {

constexpr std::size_t kLineBuffer = 2048;

FILE *s_traceStream = nullptr;
std::int32_t s_streamLevel = 99;
RavlinkTraceCallback s_traceCallback = nullptr;

// asctime of the local time, without its line end (no allocation: tracing may report one failing).
void write_header(FILE *out, const char *tail) {
    std::time_t now = std::time(nullptr);
    const char *text = std::asctime(std::localtime(&now));
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%s", text != nullptr ? text : "");
    for (std::size_t n = std::strlen(stamp); n > 0 && (stamp[n - 1] == '\n' || stamp[n - 1] == '\r');) stamp[--n] = '\0';
    std::fprintf(out, "\npid = %d, tid = %d, %s:  %s", static_cast<int>(plat::process_id()),
                 static_cast<int>(plat::thread_id()), stamp, tail);
}

FILE *open_trace_file() { return std::fopen(RavlinkTraceFile, "a+"); }

// Whether any sink takes a line of this level. Read without the lock: the sinks are set without
// it too, and a line that races with a sink being turned on or off may go either way. Send and
// receive trace on every call, so a library without sinks must not pay for the lock.
bool wanted(std::int32_t level) {
    return (RavlinkTraceFile != nullptr && level >= QXNTracefileLogLevel) || s_traceCallback != nullptr ||
           (s_traceStream != nullptr && level >= s_streamLevel);
}

// Formats into a 2048-byte line, cut to 2047 characters.
void format_line(char (&line)[kLineBuffer], const char *format, va_list args) {
    int n = std::vsnprintf(line, sizeof line, format, args);
    if (n < 0) line[0] = '\0';
}

// Writes one line to the sinks that take it: the file when toFile (with a header), the callback,
// and the stream from its level up (with a header when streamHeader).
void emit(std::int32_t level, bool toFile, bool streamHeader, const char *format, va_list args) {
    if (toFile) {
        if (FILE *f = open_trace_file()) {
            write_header(f, "");
            va_list copy;
            va_copy(copy, args);
            std::vfprintf(f, format, copy);
            va_end(copy);
            std::fclose(f);
        }
    }
    const bool toStream = s_traceStream != nullptr && level >= s_streamLevel;
    if (s_traceCallback != nullptr || toStream) {
        char line[kLineBuffer];
        va_list copy;
        va_copy(copy, args);
        format_line(line, format, copy);
        va_end(copy);
        if (s_traceCallback != nullptr) s_traceCallback(level, line);
        if (toStream) {
            if (streamHeader) write_header(s_traceStream, "");
            std::fputs(line, s_traceStream);
        }
    }
}

} // namespace

extern "C" RAVLINK_API void ravlink_tracelog(int32_t level, const char *format, ...) {
    if (!wanted(level)) return;
    plat::LibraryLock lock;
    va_list args;
    va_start(args, format);
    emit(level, RavlinkTraceFile != nullptr && level >= QXNTracefileLogLevel, true, format, args);
    va_end(args);
}

// The TLS layer's lines: to the file whatever its level, to the others as level 1, and to the
// stream without a header.
extern "C" RAVLINK_API void ravlink_tracelog2(const char *format, ...) {
    plat::LibraryLock lock;
    va_list args;
    va_start(args, format);
    emit(1, RavlinkTraceFile != nullptr, false, format, args);
    va_end(args);
}

extern "C" RAVLINK_API void RavlinkSetTraceFilePtr(FILE *stream, int32_t level) {
    s_traceStream = stream;
    s_streamLevel = level;
}

extern "C" RAVLINK_API void RavlinkSetTraceCallback(RavlinkTraceCallback callback, int32_t level) {
    s_traceCallback = callback;
    s_streamLevel = level;
}

std::int32_t s_hexdumpline(std::int32_t offset, const unsigned char *data, std::int32_t length,
                           FILE *out) {
    char column[17];
    std::fprintf(out, "%4x: ", static_cast<unsigned>(offset));
    int i = 0;
    for (; i < 16 && offset + i < length; ++i) {
        unsigned char byte = data[offset + i];
        std::fprintf(out, "%2x ", byte);
        column[i] = std::isprint(byte) ? static_cast<char>(byte) : '.';
    }
    for (; i < 16; ++i) {
        std::fputs("   ", out);
        column[i] = ' ';
    }
    column[16] = '\0';
    std::fprintf(out, "  %s\n", column);
    return offset + 16;
}

namespace {
void dump_to(FILE *out, std::int32_t length, const unsigned char *data) {
    write_header(out, "\n");
    for (std::int32_t offset = 0; offset < length;) offset = s_hexdumpline(offset, data, length, out);
}
} // namespace

void ravlink_tracedump(std::int32_t level, std::int32_t length, const void *data) {
    if (!wanted(level)) return;
    plat::LibraryLock lock;
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (length == 0 || bytes == nullptr) return;
    if (RavlinkTraceFile != nullptr && level >= QXNTracefileLogLevel) {
        if (FILE *f = open_trace_file()) {
            dump_to(f, length, bytes);
            std::fclose(f);
        }
    }
    if (s_traceStream != nullptr && level >= s_streamLevel) dump_to(s_traceStream, length, bytes);
}

void s_readTraceSettings() {
    std::string value;
    if (plat::get_env("QXN_ravlink_tracefile", value) && !value.empty()) {
        RavlinkTraceFile = static_cast<char *>(std::malloc(value.size() + 1));
        if (RavlinkTraceFile != nullptr) std::memcpy(RavlinkTraceFile, value.c_str(), value.size() + 1);
    }
    if (plat::get_env("QXN_ravlink_tracelevel", value)) {
        int level = std::atoi(value.c_str());
        if (level != 0) QXNTracefileLogLevel = level;
    }
}

void s_freeTraceSettings() {
    std::free(RavlinkTraceFile);
    RavlinkTraceFile = nullptr;
}
