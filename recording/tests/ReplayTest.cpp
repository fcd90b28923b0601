// Recordings replayed by vesperdeep-driver: the golden catalog's scripts, made into
// recordings, come to the catalog's screens; refused recordings give one line and status 64.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "Keys.hpp"
#include "Recording.hpp"

namespace {

std::string readText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A fresh empty directory for one test's files, removed with them.
class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/vesperdeep-replay-XXXXXX";
    dir = mkdtemp(name) != nullptr ? name : "/tmp";
  }
  ~Scratch() { (void)std::system(("rm -rf '" + dir + "'").c_str()); }
  std::string file(const std::string& name) const { return dir + "/" + name; }

 private:
  std::string dir;
};

struct DriverRun {
  int status;
  std::string errors;
};

// vesperdeep-driver with `arguments`, its standard error kept.
DriverRun driver(const Scratch& scratch, const std::string& arguments) {
  const std::string command = "cd '" VESPERDEEP_BIN "' && ./vesperdeep-driver " + arguments +
                              " >/dev/null 2>'" + scratch.file("errors") + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(scratch.file("errors"))};
}

// The golden script `name` as a recording (a key every 25 ms) on its partition, ended `summary`.
std::string goldenRecording(const std::string& name, const recording::Summary* summary) {
  const std::string script = readText(VESPERDEEP_GOLDEN "/" + name + ".keys");
  unsigned partition = 0;
  std::sscanf(script.c_str() + script.find("# partition:"), "# partition: %u", &partition);
  recording::Writer writer(partition);
  std::string text = writer.header();
  std::int64_t ms = 0;
  for (const TCOD_key_t& key : harness::parseKeyScript(script))
    text += writer.key(harness::describeKey(key), ms += 25);
  if (summary != nullptr) text += writer.end(*summary);
  return text;
}

TEST(Replay, AGoldenScriptRecordedReplaysToItsGoldenScreen) {
  for (const std::string name : {"05-bat-fight", "04-walk-and-dimming"}) {
    Scratch scratch;
    std::ofstream(scratch.file("game.vdrec")) << goldenRecording(name, nullptr);
    const DriverRun run = driver(scratch, "--no-flush --recording '" + scratch.file("game.vdrec") +
                                              "' --screen '" + scratch.file("screen") + "'");
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(readText(scratch.file("screen")), readText(VESPERDEEP_GOLDEN "/" + name + ".screen"))
        << name;
  }
}

TEST(Replay, AFinishedRecordingMustComeToItsTurnsAndKills) {
  Scratch scratch;
  const recording::Summary wrong{recording::Ending::Quit, 999, 0, 1000};
  std::ofstream(scratch.file("game.vdrec")) << goldenRecording("05-bat-fight", &wrong);
  const DriverRun run =
      driver(scratch, "--no-flush --recording '" + scratch.file("game.vdrec") + "'");
  EXPECT_EQ(run.status, 5);
  EXPECT_NE(run.errors.find("did not replay"), std::string::npos) << run.errors;
}

TEST(Replay, ARefusedRecordingIsOneLineAndStatus64) {
  Scratch scratch;
  std::string damaged = goldenRecording("05-bat-fight", nullptr);
  damaged[damaged.find("\nn\n") + 1] = 'j';
  std::ofstream(scratch.file("game.vdrec")) << damaged;
  const DriverRun run = driver(scratch, "--recording '" + scratch.file("game.vdrec") + "'");
  EXPECT_EQ(run.status, 64);
  EXPECT_EQ(run.errors, "vesperdeep-driver: " + scratch.file("game.vdrec") +
                            ": is damaged (a time or checksum does not match) at line 8\n");
}

}  // namespace
