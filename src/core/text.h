// Small text helpers that every layer above the platform shares.
#pragma once

#include <cstddef>
#include <cstdint>

namespace core {

// The low 32 bits of a pointer, as traces print it with %x.
inline unsigned low32(const void *p) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)); }

// Whole texts equal without regard to (ASCII) case.
bool equal_nocase(const char *a, const char *b);
// The first `length` characters of text equal prefix's without regard to case (text may be
// shorter: its terminator then differs).
bool starts_with_nocase(const char *text, const char *prefix, std::size_t length);
bool starts_with_nocase(const char *text, const char *prefix);

// A copy in one malloc() block (freed with free()); null when memory is exhausted.
char *copy_text(const char *text);

// The C library's decimal conversion (leading blanks, a sign, digits up to the first other
// character; 0 without digits), kept within 32 bits.
std::int32_t decimal_value(const char *text);

// One allocation of headerSize bytes followed by the texts back to back, each with its
// terminator (a null text counts as empty); out[i] points at text i, *length (when not null)
// receives their total size. Null when out of memory.
void *pack_texts(std::size_t headerSize, const char *const *texts, std::size_t count, char **out,
                 std::uint32_t *length);

// The cipher list of a TLS configuration that names none.
constexpr const char *kDefaultCipherList = "ALL:!aNULL:!eNULL:!EXP:!SSLv2";

} // namespace core
