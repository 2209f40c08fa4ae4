// Lines, settings, numbers and packed records of the SSL definitions file.
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "config/ssl_definitions_file.h"

std::size_t s_trimLineEnd(char *text) {
    std::size_t n = std::strlen(text);
    if (n > 0 && text[n - 1] == '\n') text[--n] = '\0';
    if (n > 0 && text[n - 1] == '\r') text[--n] = '\0';
    return n;
}

bool s_readSSLdefsLine(FILE *file, char *buf, long *start) {
    *start = std::ftell(file);
    return std::fgets(buf, kSSLdefsLineSize, file) != nullptr;
}

const char *s_settingValue(const char *line, const char *key) {
    std::size_t i = 0;
    for (; key[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) !=
            std::tolower(static_cast<unsigned char>(key[i])))
            return nullptr;
    }
    return line[i] == '=' ? line + i + 1 : nullptr;
}

std::int32_t s_decimalValue(const char *text) {
    long v = std::strtol(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

void *s_packTexts(std::size_t headerSize, const char *const *texts, std::size_t count, char **out,
                  std::uint32_t *length) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) total += std::strlen(texts[i]) + 1;
    auto *block = static_cast<char *>(std::malloc(headerSize + total));
    if (block == nullptr) return nullptr;
    char *p = block + headerSize;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t n = std::strlen(texts[i]) + 1;
        std::memcpy(p, texts[i], n);
        out[i] = p;
        p += n;
    }
    *length = static_cast<std::uint32_t>(total);
    return block;
}
