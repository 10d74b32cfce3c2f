// Test support: this program's replaced operator new records the largest
// request, so a buffer sized by a declared length shows, whether or not the
// allocation would have succeeded.
#pragma once

#include <atomic>
#include <cstddef>

extern std::atomic<size_t> g_largestAllocation;
