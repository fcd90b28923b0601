// The test rig itself: every other test trusts these helpers.

#include "Scenario.hpp"
#include "Screen.hpp"

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <array>
#include <cstdlib>
#include <stdexcept>

namespace {

class RigScreenTest : public ::testing::Test {
 protected:
  void TearDown() override { harness::clearRoot(); }
};

TEST_F(RigScreenTest, ReadsCellsAndRowsOfTheRootConsole) {
  ASSERT_EQ(TCODConsole::root->getWidth(), 80);
  ASSERT_EQ(TCODConsole::root->getHeight(), 50);
  TCODConsole::root->clear();
  TCODConsole::root->putCharEx(3, 7, '@', TCODColor::yellow, TCODColor::darkBlue);
  TCODConsole::root->putCharEx(79, 49, 219, TCODColor::red, TCODColor::green);
  TCODConsole::root->putChar(4, 7, 'b');
  TCODConsole::root->putChar(5, 7, 'c');

  const harness::Cell at = harness::cellAt(3, 7);
  EXPECT_EQ(at, (harness::Cell{'@', TCODColor::yellow, TCODColor::darkBlue}));
  EXPECT_EQ(harness::cellAt(79, 49), (harness::Cell{219, TCODColor::red, TCODColor::green}));
  EXPECT_EQ(harness::rowText(7, 2, 6), " @bc ");
  EXPECT_EQ(harness::rowText(49, 79, 79), std::string(1, static_cast<char>(219)));
  const std::string screen = harness::screenText();
  EXPECT_EQ(screen.size(), 50u * 81u);
  EXPECT_EQ(screen.substr(7 * 81, 8), "   @bc  ");
}

TEST(RigRandomTest, FixPartitionRestartsLibtcodsDefaultGenerator) {
  TCODRandom fresh(1234u);
  std::array<int, 5> expected{};
  for (int& value : expected)
    value = fresh.getInt(0, 1'000'000);

  for (int round = 0; round < 2; ++round) {
    harness::fixPartition(1234u);
    TCODRandom* instance = TCODRandom::getInstance();
    for (int expectedValue : expected)
      EXPECT_EQ(instance->getInt(0, 1'000'000), expectedValue);
  }

  harness::fixPartition(99u);
  TCODRandom other(99u);
  EXPECT_EQ(TCODRandom::getInstance()->getInt(0, 1'000'000), other.getInt(0, 1'000'000));
}

TEST(RigRandomTest, CountsTheRandCallsOfAnAction) {
  auto drawing = [](int n) {
    return [n] {
      for (int i = 0; i < n; ++i)
        std::rand();
    };
  };
  EXPECT_EQ(harness::countRandDraws(drawing(0)), 0u);
  EXPECT_EQ(harness::countRandDraws(drawing(1)), 1u);
  EXPECT_EQ(harness::countRandDraws(drawing(37)), 37u);
  EXPECT_EQ(harness::countRandDraws(drawing(100'000)), 100'000u);
  EXPECT_EQ(harness::countRandDraws(drawing(5), 7u), 5u);
}

TEST(RigRandomTest, CountingLeavesRandWhereTheActionLeftIt) {
  std::srand(42u);
  std::array<int, 4> sequence{};
  for (int& value : sequence)
    value = std::rand();

  const auto drawThree = [] {
    for (int i = 0; i < 3; ++i)
      std::rand();
  };
  ASSERT_EQ(harness::countRandDraws(drawThree, 42u), 3u);
  EXPECT_EQ(std::rand(), sequence[3]);
}

TEST(RigRandomTest, AnActionThatReseedsCannotBeCounted) {
  EXPECT_THROW(harness::countRandDraws([] { std::srand(777u); }, 1u, 10'000), std::runtime_error);
}

}  // namespace
