// Small text helpers shared by the layers above the platform.
#include "core/text.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace core {

namespace {
int lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }
} // namespace

bool equal_nocase(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (lower(*a) != lower(*b)) return false;
    return *a == *b;
}

bool starts_with_nocase(const char *text, const char *prefix, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (lower(text[i]) != lower(prefix[i])) return false;
    return true;
}

bool starts_with_nocase(const char *text, const char *prefix) {
    return starts_with_nocase(text, prefix, std::strlen(prefix));
}

char *copy_text(const char *text) {
    std::size_t n = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(n));
    if (copy != nullptr) std::memcpy(copy, text, n);
    return copy;
}

std::int32_t decimal_value(const char *text) {
    long v = std::strtol(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

void *pack_texts(std::size_t headerSize, const char *const *texts, std::size_t count, char **out,
                 std::uint32_t *length) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) total += (texts[i] != nullptr ? std::strlen(texts[i]) : 0) + 1;
    auto *block = static_cast<char *>(std::malloc(headerSize + total));
    if (block == nullptr) return nullptr;
    char *p = block + headerSize;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t n = (texts[i] != nullptr ? std::strlen(texts[i]) : 0) + 1;
        if (texts[i] != nullptr)
            std::memcpy(p, texts[i], n);
        else
            *p = '\0';
        out[i] = p;
        p += n;
    }
    if (length != nullptr) *length = static_cast<std::uint32_t>(total);
    return block;
}

} // namespace core
