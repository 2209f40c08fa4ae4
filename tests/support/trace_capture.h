// Test support: the trace lines the library writes, captured through its callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "ravlink.h"
#include "support/loopback.h"

namespace testsupport {

// Every trace line the library writes, with its level, while an instance lives. A hook, when
// given, sees each line as it is written, on the writing thread (it may call the library).
class TraceCapture {
public:
    using Hook = std::function<void(const std::string &line)>;
    explicit TraceCapture(Hook onLine = nullptr) {
        std::lock_guard<std::mutex> g(mutex());
        text().clear();
        hook() = std::move(onLine);
        RavlinkSetTraceCallback(&TraceCapture::take, 99);
    }
    ~TraceCapture() {
        RavlinkSetTraceCallback(nullptr, 99);
        std::lock_guard<std::mutex> g(mutex());
        hook() = nullptr;
    }
    std::string all() const {
        std::lock_guard<std::mutex> g(mutex());
        return text();
    }
    std::size_t count(const std::string &needle) const { return occurrences(all(), needle); }
    bool has(const std::string &needle) const { return all().find(needle) != std::string::npos; }

private:
    static std::mutex &mutex() {
        static std::mutex m;
        return m;
    }
    static std::string &text() {
        static std::string t;
        return t;
    }
    static Hook &hook() {
        static Hook h;
        return h;
    }
    static void take(int32_t level, const char *line) {
        Hook onLine;
        {
            std::lock_guard<std::mutex> g(mutex());
            text() += "[" + std::to_string(level) + "]";
            text() += line;
            onLine = hook();
        }
        if (onLine) onLine(line);
    }
};

} // namespace testsupport
