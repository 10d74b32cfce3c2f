// In a file of their own, so the replacements are never inlined into a
// caller (GCC then takes free() after operator new for a mismatch).
#include <atomic>
#include <cstdlib>
#include <new>

std::atomic<size_t> g_largestAllocation{0};

void* operator new(size_t size) {
  for (size_t seen = g_largestAllocation; size > seen && !g_largestAllocation.compare_exchange_weak(seen, size);) {
  }
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
