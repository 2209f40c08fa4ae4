// Allocation failure on demand, for the library's C allocations on the calling thread.
#pragma once

// From now on, the calling thread's Nth allocation (malloc, calloc, realloc, strdup) fails.
void arm_allocation_failure(long n);
// Stops failing; returns how many allocations the thread made while armed.
long disarm_allocation_failure();
