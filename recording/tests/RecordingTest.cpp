#include "Recording.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "File.hpp"
#include "KeyToken.hpp"
#include "Keys.hpp"

namespace {

using recording::Ending;

const std::vector<std::string> kTokens = {"h",    "<S-h>",      "<Esc>", "<Space>",
                                          "<lt>", "<#65,35,0>", "."};

// A finished recording of kTokens, a key every 100 ms, partition 4242.
std::string finishedRecording() {
  recording::Writer writer(4242);
  std::string text = writer.header();
  for (std::size_t i = 0; i < kTokens.size(); ++i)
    text += writer.key(kTokens[i], static_cast<std::int64_t>(i) * 100);
  return text + writer.end({Ending::Died, 17, 3, 900});
}

std::string tempFile(const std::string& text) {
  char name[] = "/tmp/vesperdeep-recording-XXXXXX";
  const int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  close(fd);
  std::ofstream(name, std::ios::binary) << text;
  return name;
}

TEST(Recording, ReadsBackWhatWasWritten) {
  const recording::Loaded loaded = recording::parse(finishedRecording());
  ASSERT_TRUE(loaded.recording) << loaded.error;
  const recording::Recording& read = *loaded.recording;
  EXPECT_EQ(read.partition, 4242u);
  EXPECT_EQ(read.keys, kTokens);
  EXPECT_EQ(read.times.back(), 600);
  EXPECT_EQ(read.summary.ending, Ending::Died);
  EXPECT_EQ(read.summary.turns, 17);
  EXPECT_EQ(read.summary.kills, 3);
  EXPECT_EQ(read.summary.lengthMs, 900);
}

TEST(Recording, IsAKeyScriptOfItsKeys) {
  const std::vector<TCOD_key_t> whole = harness::parseKeyScript(finishedRecording());
  const std::vector<TCOD_key_t> keys =
      harness::parseKeyScript(recording::parse(finishedRecording()).recording->script());
  ASSERT_EQ(whole.size(), kTokens.size());
  ASSERT_EQ(keys.size(), kTokens.size());
  for (std::size_t i = 0; i < kTokens.size(); ++i) {
    EXPECT_EQ(harness::describeKey(whole[i]), harness::describeKey(keys[i]));
    EXPECT_EQ(harness::describeKey(whole[i]), kTokens[i]) << i;
  }
}

TEST(Recording, WithoutItsEndItEndedAbnormally) {
  recording::Writer writer(7);
  std::string text = writer.header();
  text += writer.key("j", 40);
  text += writer.key("k", 1300);
  for (const std::string& cut : {text, recording::Writer(7).header()}) {
    const recording::Loaded loaded = recording::parse(cut);
    ASSERT_TRUE(loaded.recording) << loaded.error;
    EXPECT_EQ(loaded.recording->summary.ending, Ending::Abnormal);
  }
  const recording::Loaded whole = recording::parse(text);
  EXPECT_EQ(whole.recording->keys.size(), 2u);
  EXPECT_EQ(whole.recording->summary.lengthMs, 1300);
}

// The text with the first occurrence of `from` replaced by `to`.
std::string changed(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(Recording, RefusesWhatCannotReplayExactly) {
  const std::string good = finishedRecording();
  recording::Writer backwards(1);
  std::string backwardsText = backwards.header();
  backwardsText += backwards.key("h", 50);
  backwardsText += backwards.key("j", 20);
  struct Case {
    std::string text;
    std::string says;
  };
  const std::vector<Case> cases = {
      {changed(good, "\n<S-h>\n", "\n<S-j>\n"), "checksum"},
      {changed(good, "partition 4242", "partition 4243"), "checksum"},
      {changed(good, "turns 17", "turns 16"), "checksum"},
      {changed(good, "# version ", "# version 9."), "version 9."},
      {good.substr(0, good.find("<Esc>") + 3), "cut short"},
      {good.substr(0, good.find("<Esc>") + 6), "without its time"},
      {good + "h\n", "after its end"},
      {changed(good, "\n.\n", "\n..\n"), "not a key"},
      {changed(good, "# end died", "# end won"), "end line"},
      {backwardsText, "damaged"},
      {"", "not a vesperdeep recording"},
      {"hjkl\n", "not a vesperdeep recording"},
  };
  for (const Case& bad : cases) {
    const recording::Loaded loaded = recording::parse(bad.text);
    EXPECT_FALSE(loaded.recording) << bad.says;
    EXPECT_NE(loaded.error.find(bad.says), std::string::npos) << loaded.error;
    EXPECT_EQ(loaded.error.find('\n'), std::string::npos) << loaded.error;
  }
}

// Every key the fuzzer makes (every code, character and modifier) is written as a token that a
// key script, and the replay's own reader, read back as the same key.
TEST(Recording, EveryKeyIsWrittenAsATokenThatReadsBackAsIt) {
  harness::KeyFuzzer fuzzer(18);
  for (int i = 0; i < 20000; ++i) {
    const TCOD_key_t key = fuzzer.next();
    const std::string token = recording::keyToken(key);
    const std::vector<TCOD_key_t> read = harness::parseKeyScript("#\n" + token + "\n");
    ASSERT_EQ(read.size(), 1u) << token;
    ASSERT_EQ(harness::describeKey(read[0]), harness::describeKey(key)) << token;
    const std::optional<TCOD_key_t> replayed = recording::keyOfToken(token);
    ASSERT_TRUE(replayed.has_value()) << token;
    ASSERT_EQ(harness::describeKey(*replayed), harness::describeKey(key)) << token;
  }
}

// Every field the game reads of a key: code, character, modifiers and whether it was pressed.
void expectSameKey(const TCOD_key_t& read, const TCOD_key_t& written) {
  EXPECT_EQ(read.vk, written.vk);
  EXPECT_EQ(read.c, written.c);
  for (bool TCOD_key_t::*flag : recording::kModifierFlags)
    EXPECT_EQ(read.*flag, written.*flag);
  EXPECT_EQ(read.pressed, written.pressed);
}

// The key a key script makes of `token`, which must be exactly one key.
TCOD_key_t readToken(const std::string& token) {
  const std::vector<TCOD_key_t> read = harness::parseKeyScript("#\n" + token + "\n");
  EXPECT_EQ(read.size(), 1u) << token;
  return read.empty() ? TCOD_key_t{} : read[0];
}

// The name reads back as the key; a recording writes a pressed key by its name ("<None>", the
// closed window's no-key, counts as released and is written raw), and reads it back.
TEST(KeyVocabulary, EveryNamedKeyIsWrittenByItsNameAndReadBackAsThatKey) {
  for (const recording::NamedKey& named : recording::kNamedKeys) {
    const TCOD_key_t key = harness::plainKey(named.vk);
    const std::string name = "<" + std::string(named.name) + ">";
    SCOPED_TRACE(name);
    expectSameKey(readToken(name), key);
    EXPECT_EQ(harness::describeKey(key), name);
    const std::string token = recording::keyToken(key);
    EXPECT_EQ(token, key.pressed ? name : recording::rawToken(key));
    expectSameKey(readToken(token), key);
  }
}

TEST(KeyVocabulary, TypedKeysAreWrittenAsTokensThatReadBackAsTheSameKey) {
  TCOD_key_t withText = harness::characterKey('e');
  withText.text[0] = 'e';
  TCOD_key_t released = harness::characterKey('j');
  released.pressed = false;
  TCOD_key_t leftCtrl = harness::characterKey('c');
  leftCtrl.lctrl = true;
  TCOD_key_t everyModifier = harness::plainKey(TCODK_F5);
  for (bool TCOD_key_t::*flag : recording::kModifierFlags)
    everyModifier.*flag = true;
  const struct {
    TCOD_key_t key;
    const char* token;
  } cases[] = {
      {harness::characterKey('h'), "h"},
      {harness::characterKey('.'), "."},
      {harness::characterKey('5'), "5"},
      {harness::characterKey('<'), "<lt>"},
      {harness::characterKey('>'), ">"},
      {harness::characterKey(' '), "<Space>"},
      {harness::characterKey('#'), "<#65,35,0>"},
      {harness::shiftedKey('h'), "<#65,72,1>"},
      {harness::plainKey(TCODK_KP7), "<#41,0,0>"},
      {harness::plainKey(TCODK_F5), "<#54,0,0>"},
      {withText, "<#65,101,0>"},
      {released, "<#65,106,128>"},
      {leftCtrl, "<#65,99,2>"},
      {everyModifier, "<#54,0,127>"},
      {recording::keyWithFlags(TCODK_CHAR, static_cast<char>(-3), 8), "<#65,-3,8>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    EXPECT_EQ(recording::keyToken(c.key), c.token);
    expectSameKey(readToken(c.token), c.key);
  }
}

TEST(KeyVocabulary, RawTokensOutOfRangeOrOverlongAreRefused) {
  for (const char* body : {"", "65", "65,0", "65,0,0,0", "65,,0", "-1,0,0", "67,0,0", "65,256,0",
                           "65,-129,0", "65,0,256", "65,0,-1", "65,0,1x", "--65,0,0",
                           "65,-99999999999999999999,0", "99999999999999999999,0,0"}) {
    SCOPED_TRACE(body);
    EXPECT_FALSE(recording::readRawToken(body).has_value());
    EXPECT_THROW(harness::parseKeyScript("<#" + std::string(body) + ">"), std::invalid_argument);
  }
  expectSameKey(*recording::readRawToken("65,-128,255"),
                recording::keyWithFlags(TCODK_CHAR, static_cast<char>(-128), 255));
}

TEST(Recording, TheReplayRefusesTokensNoRecordingHolds) {
  for (const char* token : {"", "ab", "#", "<>", "<Foo>", "<#1,2>", "<#1,2,3,4>", "<#99999,0,0>",
                            "<#1,300,0>", "<#1,2,x>", "<#,2,3>", "<#1,2,3"})
    EXPECT_FALSE(recording::keyOfToken(token).has_value()) << token;
}

TEST(Recording, LoadRefusesAHugeFileByItsSizeAndNamesTheFile) {
  const std::string name = tempFile("");
  ASSERT_EQ(truncate(name.c_str(), 100 << 20), 0);  // sparse: nothing is there to read
  const recording::Loaded huge = recording::load(name);
  EXPECT_FALSE(huge.recording);
  EXPECT_EQ(huge.error.rfind(name + ": is larger than", 0), 0u) << huge.error;
  std::ofstream(name, std::ios::binary | std::ios::trunc) << finishedRecording();
  EXPECT_TRUE(recording::load(name).recording);
  std::remove(name.c_str());
  EXPECT_EQ(recording::load(name).error, name + ": cannot be read");
}

TEST(RecordingFile, ReadsAsAbnormalWhileWrittenAndIsRenamedWithItsEnd) {
  char dir[] = "/tmp/vesperdeep-file-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string name = std::string(dir) + "/game.vdrec";
  {
    recording::File file(name, 77);
    ASSERT_TRUE(file.ok()) << file.error();
    for (const std::string& token : kTokens)
      file.key(token);
    const recording::Loaded running = recording::load(name + ".part");
    ASSERT_TRUE(running.recording) << running.error;  // a program killed now leaves this
    EXPECT_EQ(running.recording->summary.ending, Ending::Abnormal);
    EXPECT_EQ(running.recording->keys, kTokens);
    ASSERT_TRUE(file.close(Ending::Died, 12, 2)) << file.error();
  }
  EXPECT_NE(access((name + ".part").c_str(), F_OK), 0);
  const recording::Loaded done = recording::load(name);
  ASSERT_TRUE(done.recording) << done.error;
  EXPECT_EQ(done.recording->partition, 77u);
  EXPECT_EQ(done.recording->keys, kTokens);
  EXPECT_EQ(done.recording->summary.ending, Ending::Died);
  EXPECT_EQ(done.recording->summary.turns, 12);
  EXPECT_EQ(done.recording->summary.kills, 2);
  std::remove(name.c_str());
  const recording::File nowhere(std::string(dir) + "/no/such/dir/game.vdrec", 1);
  EXPECT_FALSE(nowhere.ok());
  EXPECT_EQ(
      nowhere.error().rfind(
          "cannot write the recording " + std::string(dir) + "/no/such/dir/game.vdrec.part: ", 0),
      0u)
      << nowhere.error();
  rmdir(dir);
}

}  // namespace
