// What the platform's load entry points run (DllMain on Windows; constructor, destructor and
// thread exit on POSIX). Declared here so that the platform needs nothing above it; the library's
// start-up and shut-down (diag/startup.cpp) define them.
#pragma once

void ravlink_process_attach();
void ravlink_process_detach();
void ravlink_thread_attach();
void ravlink_thread_detach();
