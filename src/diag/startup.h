// The library's start-up and shut-down, run by the platform on process and thread attach and
// detach (DllMain on Windows; constructor, destructor and thread exit on POSIX).
#pragma once

void ravlink_process_attach();
void ravlink_process_detach();
void ravlink_thread_attach();
void ravlink_thread_detach();
