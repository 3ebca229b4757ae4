#include "base/AllocationCheck.h"

namespace {
AllocationCheck gCheck = nullptr;
}  // namespace

void SetAllocationCheck(AllocationCheck check) { gCheck = check; }

void CheckAllocation(size_t bytes) {
    if (gCheck) gCheck(bytes);
}
