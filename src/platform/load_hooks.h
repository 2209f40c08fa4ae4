// What the platform's load entry points run (DllMain on Windows; constructor, destructor and
// thread exit on POSIX). Declared here so that the platform needs nothing above it; the library's
// start-up and shut-down (diag/startup.cpp) define them.
#pragma once

void s_onProcessAttach();
void s_onProcessDetach();
void s_onThreadAttach();
void s_onThreadDetach();
