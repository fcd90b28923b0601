#include "AllocationCounter.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define VESPERDEEP_COUNT_MALLOC 1
#endif

namespace {

// SDL may allocate on threads of its own; relaxed atomic counters keep the count right and the
// counting cheap.
std::atomic<std::size_t> newCount{0};
std::atomic<std::size_t> mallocCount{0};

}  // namespace

void* operator new(std::size_t size) {
  newCount.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
  newCount.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  newCount.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  newCount.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}

// Every form above allocates with malloc, so every matching delete frees with free.
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}

#ifdef VESPERDEEP_COUNT_MALLOC
// glibc's own allocator stays in charge; these only count the calls on their way to it.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);

void* malloc(std::size_t size) {
  mallocCount.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
  mallocCount.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}

void* realloc(void* block, std::size_t size) {
  mallocCount.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(block, size);
}
}
#endif

namespace bench {

Allocations allocationsSoFar() {
  return {newCount.load(std::memory_order_relaxed), mallocCount.load(std::memory_order_relaxed)};
}

bool countsMallocs() {
#ifdef VESPERDEEP_COUNT_MALLOC
  return true;
#else
  return false;
#endif
}

}  // namespace bench
