// Allocation failure on demand, for the allocations made on the calling thread.
#pragma once

// From now on, the calling thread's Nth allocation (malloc, calloc, realloc, strdup, or operator
// new / new[], which then throws std::bad_alloc) fails.
void arm_allocation_failure(long n);
// Stops failing; returns how many allocations the thread made while armed.
long disarm_allocation_failure();
