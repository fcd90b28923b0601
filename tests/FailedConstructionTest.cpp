// A Game whose construction fails half-way (the only way it can: an allocation that fails)
// releases everything it had made before the failure reaches its caller.
//
// This file replaces the global operator new and delete of the whole test program with ones
// that count the blocks alive and can be told to fail a given allocation. AddressSanitizer keeps
// its own operator new to check that every block goes back the way it came, so the sanitized
// build keeps that check and skips this test.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "Game.hpp"
#include "Scenario.hpp"

namespace {

#if !defined(__SANITIZE_ADDRESS__)
constexpr bool kCountsAllocations = true;
#else
constexpr bool kCountsAllocations = false;
#endif
// Blocks from operator new not yet given back.
std::atomic<long> liveBlocks{0};
// Allocations made since the count was last reset.
std::atomic<long> allocationsMade{0};
// The allocation (counted from 1 after the reset) that throws std::bad_alloc; 0 for none.
std::atomic<long> failingAllocation{0};

}  // namespace

#if !defined(__SANITIZE_ADDRESS__)
void* operator new(std::size_t size) {
  const long made = allocationsMade.fetch_add(1, std::memory_order_relaxed) + 1;
  if (made == failingAllocation.load(std::memory_order_relaxed)) throw std::bad_alloc();
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  operator delete(block);
}
#endif

namespace {

constexpr std::uint32_t kPartition = 13;
constexpr unsigned kSeed = 13;

struct Construction {
  long allocations;  // made up to the end of the construction or its failure
  bool threw;        // whether the failure reached the caller as std::bad_alloc
  long leftAlive;    // blocks made during the construction and never given back
};

// Builds (and destroys) a Game on the same cave each time, failing allocation `failing` (0 for
// none).
Construction build(long failing) {
  harness::fixPartition(kPartition);
  std::srand(kSeed);
  Construction result{0, false, 0};
  const long alive = liveBlocks;
  allocationsMade = 0;
  failingAllocation = failing;
  try {
    const Game game;
  } catch (const std::bad_alloc&) {
    result.threw = true;
  }
  failingAllocation = 0;
  result.allocations = allocationsMade;
  result.leftAlive = liveBlocks - alive;
  return result;
}

TEST(FailedConstructionTest, AGameThatFailsToAllocateReleasesEverythingItMade) {
  if (!kCountsAllocations) GTEST_SKIP() << "AddressSanitizer keeps its own operator new";
  build(0);  // whatever the libraries make once for good is made now
  const Construction whole = build(0);
  ASSERT_FALSE(whole.threw);
  ASSERT_EQ(whole.leftAlive, 0);
  ASSERT_GT(whole.allocations, 100) << "the level, the player and the population are allocated";

  // from the first allocation (nothing made yet) to the last (the whole population registered)
  const long made = whole.allocations;
  for (const long failing : {1L, made / 4, made / 2, made * 3 / 4, made}) {
    const Construction failed = build(failing);
    EXPECT_EQ(failed.allocations, failing);
    EXPECT_TRUE(failed.threw) << failing;
    EXPECT_EQ(failed.leftAlive, 0) << "allocation " << failing << " of " << made << " failed";
  }
}

}  // namespace
