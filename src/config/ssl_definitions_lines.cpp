// Lines and settings of the SSL definitions file.
#include <cstring>

#include "config/ssl_definitions_file.h"
#include "core/text.h"

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
    std::size_t n = std::strlen(key);
    return core::starts_with_nocase(line, key, n) && line[n] == '=' ? line + n + 1 : nullptr;
}

