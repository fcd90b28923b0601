#include "Record.hpp"

#include <gtest/gtest.h>

#include <string>

#include "Frames.hpp"
#include "KeyToken.hpp"
#include "Keys.hpp"
#include "Protocol.hpp"

namespace {

// Every key a page can send reaches a recording as a token that a key script reads back as the
// very key the game was given.
TEST(RecordedKeys, EveryKeyMessageReadsBackAsTheSameKey) {
  int keys = 0;
  for (int code = 0; code < 256; ++code) {
    for (int mods : {0, int{protocol::kShift}}) {
      const std::string message{protocol::kKey, static_cast<char>(code), static_cast<char>(mods)};
      const std::optional<TCOD_key_t> key = pipefront::keyOf(message);
      if (!key) continue;
      ++keys;
      const std::string token = recording::keyToken(*key);
      const std::vector<TCOD_key_t> read =
          harness::parseKeyScript("# a recording\n" + token + "\n");
      ASSERT_EQ(read.size(), 1u) << token;
      EXPECT_EQ(harness::describeKey(read[0]), harness::describeKey(*key)) << token;
      EXPECT_EQ(pipefront::keyReadMessage(*key), "R" + token);
    }
  }
  EXPECT_EQ(keys, 2 * (7 + 95));
}

TEST(RecordedKeys, TheTitleScreenReportsNoGame) {
  EXPECT_EQ(pipefront::statusMessage(nullptr), std::string("S\0\0\0\0\0\0\0\0\0", 10));
}

}  // namespace
