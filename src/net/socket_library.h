// The socket library's lifetime: a counted start and stop.
#pragma once

// Takes one use of the socket library, starting it on the first. 1 when ready, 0 on failure.
int s_wsockstart();
// Gives one use back, stopping the library after the last; nothing without a use.
void s_wsacleanup();
// The number of uses held (for tests).
unsigned s_wsockcount();
