// Vesperdeep's benchmarks: what the game spends on a frame, a turn and a new cave, set against
// what libtcod itself must spend on any frame of this game (a field of view and one write per
// level cell) and on showing it (one flush). The ratios are printed at the end of the run from
// the medians of the repetitions, with the heap allocations of a warm frame.
//
// Run it from the directory holding the font sheet (scripts/bench does). It runs headless under
// SDL's dummy video driver unless SDL_VIDEODRIVER names another.

#include <benchmark/benchmark.h>
#include <libtcod.hpp>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AllocationCounter.hpp"
#include "App.hpp"
#include "Keyboard.hpp"
#include "Keys.hpp"
#include "MidGame.hpp"
#include "Player.hpp"
#include "Process.hpp"
#include "Tool.hpp"

namespace {

constexpr int kRepetitions = 10;
constexpr int kFovRadius = 5;

// ---- The floor: libtcod's field of view plus one write per level cell -----------------------

void BM_Floor(benchmark::State& state) {
  const bench::MidGame mid;
  const Map& level = *mid.game->map;
  TCODMap fov(level.width, level.height);
  fov.copy(level.fovMap.get());
  struct Look {
    int glyph;
    TCODColor fore;
    TCODColor back;
  };
  std::vector<Look> looks;
  for (int y = 0; y < level.height; ++y) {
    for (int x = 0; x < level.width; ++x) {
      const Tile& tile = level.tileAt(x, y);
      looks.push_back({tile.glyph, tile.fore, tile.back});
    }
  }
  const int px = mid.game->player->x;
  const int py = mid.game->player->y;
  TCODConsole& root = *TCODConsole::root;
  for (auto _ : state) {
    fov.computeFov(px, py, kFovRadius, true, FOV_BASIC);
    const Look* look = looks.data();
    for (int y = 0; y < level.height; ++y) {
      for (int x = 0; x < level.width; ++x, ++look) {
        root.putCharEx(x, y, look->glyph, look->fore, look->back);
      }
    }
  }
}

// ---- The game's frame: the level and the interface ------------------------------------------

void BM_Frame(benchmark::State& state) {
  const bench::MidGame mid;
  Game& game = *mid.game;
  std::size_t creaturesInView = 0;
  for (const Entity* entity : game.map->visibleEntities)
    creaturesInView += entity->blocks ? 1 : 0;
  const bench::Allocations before = bench::allocationsSoFar();
  for (auto _ : state) {
    game.map->draw();
    game.drawInterface();
  }
  const bench::Allocations after = bench::allocationsSoFar();
  state.counters["new/frame"] = benchmark::Counter(static_cast<double>(after.news - before.news),
                                                   benchmark::Counter::kAvgIterations);
  state.counters["in_view"] = static_cast<double>(creaturesInView);
}

// The level alone, for telling the two halves of a frame apart.
void BM_MapDraw(benchmark::State& state) {
  const bench::MidGame mid;
  Map& level = *mid.game->map;
  for (auto _ : state)
    level.draw();
}

// ---- The game's turn: one key that passes a turn, five creatures hunting the player --------

void BM_Turn(benchmark::State& state) {
  bench::MidGame mid;
  Game& game = *mid.game;
  if (mid.hunters.size() != bench::MidGame::kHunterCount) {
    state.SkipWithError("could not place five hunters around the player");
    return;
  }
  bench::holdKey(harness::actionKey(Action::Wait));  // waiting always takes a turn
  const int firstTurn = game.turnCount;
  for (auto _ : state) {
    state.PauseTiming();
    mid.resetHunters();
    state.ResumeTiming();
    game.update();
  }
  keyboard::setKeySource(nullptr);
  if (game.turnCount - firstTurn != static_cast<int>(state.iterations())) {
    state.SkipWithError("a key measured did not pass a turn");
  }
}

// ---- A new game: cave generation and population ---------------------------------------------

void BM_Construction(benchmark::State& state) {
  std::unique_ptr<Game> game;
  for (auto _ : state) {
    state.PauseTiming();
    game.reset();
    bench::fixRandomness(bench::MidGame::kSeed);
    state.ResumeTiming();
    game = std::make_unique<Game>();
  }
}

// ---- Showing a frame: one flush under SDL's dummy video driver ------------------------------

// Two frames a step apart, shown in turn, so that every flush has changed cells to send, as in
// play.
void BM_Flush(benchmark::State& state) {
  bench::MidGame mid;
  Game& game = *mid.game;
  TCODConsole& root = *TCODConsole::root;
  const int width = root.getWidth();
  const int height = root.getHeight();
  std::vector<std::unique_ptr<TCODConsole>> frames;
  for (int frame = 0; frame < 2; ++frame) {
    if (frame == 1) {
      bench::holdKey(harness::actionKey(Action::Wait));
      game.update();
      keyboard::setKeySource(nullptr);
    }
    game.draw();
    frames.push_back(std::make_unique<TCODConsole>(width, height));
    TCODConsole::blit(&root, 0, 0, width, height, frames.back().get(), 0, 0);
  }
  std::size_t shown = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TCODConsole::blit(frames[shown++ % 2].get(), 0, 0, width, height, &root, 0, 0);
    state.ResumeTiming();
    TCODConsole::flush();
  }
}

// ---- Heap allocations of warm frames ---------------------------------------------------------

struct AllocationReport {
  double drawNews;
  double drawMallocs;
  double frameNews;
  double frameMallocs;
};

AllocationReport countFrameAllocations() {
  constexpr int kFrames = 100;
  const bench::MidGame mid;
  Game& game = *mid.game;
  game.map->draw();
  game.drawInterface();  // warm: the list of entities in view has its storage
  const bench::Allocations start = bench::allocationsSoFar();
  for (int i = 0; i < kFrames; ++i)
    game.map->draw();
  const bench::Allocations drawn = bench::allocationsSoFar();
  for (int i = 0; i < kFrames; ++i) {
    game.map->draw();
    game.drawInterface();
  }
  const bench::Allocations framed = bench::allocationsSoFar();
  return {
      static_cast<double>(drawn.news - start.news) / kFrames,
      static_cast<double>(drawn.mallocs - start.mallocs) / kFrames,
      static_cast<double>(framed.news - drawn.news) / kFrames,
      static_cast<double>(framed.mallocs - drawn.mallocs) / kFrames,
  };
}

// ---- The summary: ratios of medians ----------------------------------------------------------

struct Median {
  double realUs;
  double cpuUs;
};

struct Target {
  const char* label;
  const char* measured;
  const char* reference;
  double limit;
};

const Target kTargets[] = {
    {"frame / floor", "BM_Frame", "BM_Floor", 2.5},
    {"turn with five hunters / flush", "BM_Turn", "BM_Flush", 1.0},
    {"game construction / flush", "BM_Construction", "BM_Flush", 5.0},
};

// The console report as usual, plus the medians kept for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(AllocationReport allocations)
      : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular),
        allocations(allocations) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      const double toUs = 1e6 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      medians[run.run_name.function_name] = {run.GetAdjustedRealTime() * toUs,
                                             run.GetAdjustedCPUTime() * toUs};
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nMedians of %d repetitions (microseconds):\n", kRepetitions);
    for (const auto& [name, median] : medians) {
      std::printf("  %-16s real %9.1f   cpu %9.1f\n", name.c_str(), median.realUs, median.cpuUs);
    }
    std::printf("\nRatios of the medians (cpu time; real time in brackets):\n");
    for (const Target& target : kTargets)
      printRatio(target);
    std::printf("\nHeap allocations per warm frame:\n");
    std::printf("  Map::draw                       operator new %.2f", allocations.drawNews);
    printMallocs(allocations.drawMallocs);
    std::printf("  Map::draw + Game::drawInterface operator new %.2f", allocations.frameNews);
    printMallocs(allocations.frameMallocs);
    std::printf("  target: Map::draw makes none: %s\n",
                allocations.drawNews == 0 && allocations.drawMallocs == 0 ? "met" : "MISSED");
#ifndef NDEBUG
    std::printf("\nNote: this is not a Release build; its timings say little (scripts/bench).\n");
#endif
  }

 private:
  void printRatio(const Target& target) const {
    const auto measured = medians.find(target.measured);
    const auto reference = medians.find(target.reference);
    if (measured == medians.end() || reference == medians.end()) {
      std::printf("  %-32s not measured in this run\n", target.label);
      return;
    }
    const double cpu = measured->second.cpuUs / reference->second.cpuUs;
    const double real = measured->second.realUs / reference->second.realUs;
    std::printf("  %-32s %6.3f  (%6.3f)   target <= %.1f: %s\n", target.label, cpu, real,
                target.limit, cpu <= target.limit ? "met" : "MISSED");
  }

  static void printMallocs(double mallocs) {
    if (bench::countsMallocs()) {
      std::printf(", malloc/calloc/realloc (whole process) %.2f\n", mallocs);
    } else {
      std::printf(" (mallocs not counted in this build)\n");
    }
  }

  AllocationReport allocations;
  std::map<std::string, Median> medians;
};

void registerBenchmarks() {
  for (auto* benchmark : {
           benchmark::RegisterBenchmark("BM_Floor", BM_Floor),
           benchmark::RegisterBenchmark("BM_Frame", BM_Frame),
           benchmark::RegisterBenchmark("BM_MapDraw", BM_MapDraw),
           benchmark::RegisterBenchmark("BM_Turn", BM_Turn),
           benchmark::RegisterBenchmark("BM_Construction", BM_Construction),
           benchmark::RegisterBenchmark("BM_Flush", BM_Flush),
       }) {
    benchmark->Unit(benchmark::kMicrosecond)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return harness::kExitUsage;

  harness::preferHeadlessDrivers();
  App app;  // the game's own console: its font sheet, 80 x 50 cells and colour codes
  if (!app.started) return harness::kExitFailed;

  RatioReporter reporter(countFrameAllocations());
  registerBenchmarks();
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return harness::kExitDone;
}
