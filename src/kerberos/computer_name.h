// The computer's names, chosen by a letter.
#pragma once

#include <cstdint>

// Letters: B NetBIOS, H DNS host name, D DNS domain, F fully qualified DNS name, and in lower case
// the physical forms of the same. Returns the characters stored (without the terminator), or 0
// when the letter is unknown, the platform call fails, or the name is empty.
std::uint32_t s_getComputerName(char *buffer, std::uint32_t size, char letter);
