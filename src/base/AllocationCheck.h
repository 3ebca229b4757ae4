// A way for tests to make the large allocations of capture and load fail, as
// they do on a machine short of memory, without exhausting the machine's memory.
#pragma once

#include <cstddef>

// Called with the size before each large block of item data is allocated; it
// may throw std::bad_alloc. Null (the default) checks nothing.
using AllocationCheck = void (*)(size_t bytes);
void SetAllocationCheck(AllocationCheck check);

// Throws std::bad_alloc when the installed check says so.
void CheckAllocation(size_t bytes);
