// A test program that links tests/support/counting_new.cpp (by using what this header declares)
// gets global operators new and delete that count allocations while `countingAllocations` is set,
// so a test can prove that a path allocates nothing.
#pragma once

extern bool countingAllocations;
extern long allocationCount;
