// The player's documents against the game: every key of the key table is listed in the README's
// key table and on the manual page.

#include <gtest/gtest.h>
#include <libtcod.hpp>

#include <fstream>
#include <sstream>
#include <string>

#include "Game.hpp"

namespace {

std::string readFile(const std::string& relativePath) {
  std::ifstream in(std::string(VESPERDEEP_SOURCE_DIR) + "/" + relativePath);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of `text` from the one starting with `heading` up to the next one starting with
// `nextHeading`.
std::string section(const std::string& text, const std::string& heading,
                    const std::string& nextHeading) {
  const std::size_t start = text.find("\n" + heading);
  if (start == std::string::npos) return "";
  const std::size_t end = text.find("\n" + nextHeading, start + 1);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// How the documents name a key that types no character.
struct KeyName {
  TCOD_keycode_t vk;
  const char* name;
};
constexpr KeyName kKeyNames[] = {
    // key, name in the documents
    {TCODK_ESCAPE, "Escape"},    {TCODK_HOME, "Home"},     {TCODK_LEFT, "arrow keys"},
    {TCODK_RIGHT, "arrow keys"}, {TCODK_UP, "arrow keys"}, {TCODK_DOWN, "arrow keys"},
};

// The name of `binding`'s key as a document writes it: `c` in the README for a character key,
// c alone between spaces or quotes on the manual page; "" for a key without a name here.
std::string nameIn(const KeyBinding& binding, bool manualPage) {
  if (binding.vk == TCODK_CHAR) {
    return manualPage ? std::string(1, binding.c) : "`" + std::string(1, binding.c) + "`";
  }
  for (const KeyName& key : kKeyNames) {
    if (key.vk == binding.vk) return key.name;
  }
  return "";
}

// Whether the manual page's key lines (.B and .BR) name the character `c` as a word of its own.
bool manualNamesCharacter(const std::string& keys, char c) {
  std::istringstream lines(keys);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".B ", 0) != 0 && line.rfind(".BR ", 0) != 0) continue;
    std::istringstream words(line.substr(line.find(' ') + 1));
    for (std::string word; words >> word;) {
      if (word == std::string(1, c) || word == "\"" + std::string(1, c) + "\"") return true;
    }
  }
  return false;
}

TEST(DocsTest, TheReadmeAndTheManualPageListEveryKeyOfTheKeyTable) {
  const std::string readme = section(readFile("README.md"), "## Keys", "## ");
  const std::string manual = section(readFile("packaging/vesperdeep.6"), ".SH KEYS", ".SH ");
  ASSERT_FALSE(readme.empty()) << "README.md has no \"## Keys\" section";
  ASSERT_FALSE(manual.empty()) << "vesperdeep.6 has no KEYS section";
  for (const KeyBinding& binding : normalKeys()) {
    const std::string readmeName = nameIn(binding, false);
    SCOPED_TRACE("key code " + std::to_string(binding.vk) + ", character " +
                 std::to_string(int{binding.c}));
    ASSERT_FALSE(readmeName.empty()) << "give the key a name in kKeyNames";
    EXPECT_NE(readme.find(readmeName), std::string::npos) << "README.md lacks " << readmeName;
    const bool onManualPage = binding.vk == TCODK_CHAR
                                  ? manualNamesCharacter(manual, binding.c)
                                  : manual.find(nameIn(binding, true)) != std::string::npos;
    EXPECT_TRUE(onManualPage) << "packaging/vesperdeep.6 lacks " << nameIn(binding, true);
  }
}

}  // namespace
