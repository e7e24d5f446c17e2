// Fault injection for the test program: the global operator new can be told to fail once, with
// std::bad_alloc, at the next request of at least a given size.  Disarmed it behaves normally.
#ifndef KORVALE_TESTS_ALLOC_FAILURE_H
#define KORVALE_TESTS_ALLOC_FAILURE_H

#include <cstddef>

void FailNextAllocationOfAtLeast(std::size_t bytes);
void DisarmAllocationFailure();
bool AllocationFailureFired();

#endif
