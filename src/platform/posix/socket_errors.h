// errno and EAI_* values as the Winsock numbers the library reports.
#pragma once

namespace plat::posix {

int wsa_from_errno(int err);
int wsa_from_eai(int eai, int saved_errno);

} // namespace plat::posix
