// GSSAPI statuses as SSPI numbers, and the detail of the last failure for the error text.
#pragma once

#include <cstdint>
#include <string>

namespace plat::posix {

// Maps a failed GSS call to an SSPI status (fallback when nothing more precise fits) and keeps
// gss_display_status's text of it for the calling thread.
std::uint32_t gss_failure(std::uint32_t major, std::uint32_t minor, std::uint32_t fallback);
// Forgets the thread's detail (every security call starts with it).
void clear_gss_detail();
// The detail of the thread's last failure when it was reported as this status; empty otherwise.
std::string gss_detail(std::uint32_t status);

} // namespace plat::posix
