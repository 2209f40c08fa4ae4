// The table of Windows message texts used on POSIX.
#pragma once

#include <cstdint>

namespace plat::posix {

// The text of a Winsock, SSPI or system code the library uses, without its line end;
// null when the table has none.
const char *find_message(std::uint32_t code);

} // namespace plat::posix
