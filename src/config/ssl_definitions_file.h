// The SSL definitions file (SSLdefs.ini), read line by line: where it is, its server sections
// and its SSL configuration sections. Nothing of it is kept between look-ups.
//
// A value longer than its field is refused: the key counts as not given (a path or pass phrase
// cut short would name something else). Fields hold at most their size minus 2 characters
// (the value, its line end and the terminator). A server section whose name has 256 characters
// or more is refused as a whole: it matches nothing and the next section is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "config/ssl_definitions.h"

// One allocation: the header, then the six texts back to back. Freed with one free().
struct ServerSection {
    std::uint32_t length; // of the texts, terminators included
    char *sslConfig;
    char *securityLevel;
    char *address;
    char *port;
    char *telnetPort;
    char *name;
};

// Reads of the file take at most this many characters; a longer line comes in pieces.
constexpr int kSSLdefsLineSize = 1024;

// Field sizes in bytes (value, line end and terminator).
constexpr std::size_t kSectionNameSize = 256;
constexpr std::size_t kAddressSize = 256;
constexpr std::size_t kPortSize = 40;
constexpr std::size_t kTelnetPortSize = 32;
constexpr std::size_t kSSLConfigNameSize = 128;
constexpr std::size_t kCipherListSize = 128;
constexpr std::size_t kPathFieldSize = 272;

// Opens the file: $QXN_SSLconfigurations, else $CommonProgramFiles(x86) or $CommonProgramFiles
// followed by the product path. Null when none is set, the value used does not fit 260
// characters (terminator included), or the file does not open.
FILE *s_openSSLdefs(const char *mode);
// The next server section, or null at the end of the file.
ServerSection *s_NextServerSection(FILE *file);
// The SSL configuration section of that name, or null (the file is then read to its end).
SSLdefinition *s_readSSLcfg(FILE *file, const char *name);
// Removes one trailing line feed, then one trailing carriage return; returns the new length.
std::size_t s_trimLineEnd(char *text);

// ---- Shared by the section readers ----

// Reads one line (at most kSSLdefsLineSize - 1 characters) into buf; *start receives the file
// position of its first character. False at the end of the file.
bool s_readSSLdefsLine(FILE *file, char *buf, long *start);
// The value of a setting "key=value" (key without regard to case, "=" right after it), or null.
const char *s_settingValue(const char *line, const char *key);
