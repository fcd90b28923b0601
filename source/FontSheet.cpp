#include "FontSheet.hpp"

#include <SDL.h>
#include <libtcod/error.h>
#include <libtcod/globals.h>
#include <libtcod/tileset.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace fontsheet {
namespace {

namespace fs = std::filesystem;

constexpr int kCellsPerSide = 16;

struct SurfaceDeleter {
  void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// TCOD_tileset_delete drops one reference; libtcod keeps its own while the tileset is
// installed.
struct TilesetDeleter {
  void operator()(TCOD_Tileset* tileset) const { TCOD_tileset_delete(tileset); }
};
using TilesetPtr = std::unique_ptr<TCOD_Tileset, TilesetDeleter>;

// The single line a failed load leaves on stderr.
bool fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "vesperdeep: cannot load font sheet \"%s\" (%s)\n", file.c_str(),
               reason.c_str());
  return false;
}

// The directory of the running executable, or an empty path if SDL cannot tell.
fs::path executableDir() {
  char* base = SDL_GetBasePath();
  if (base == nullptr) return {};
  fs::path dir(base);
  SDL_free(base);
  return dir;
}

// Where a sheet called `name` may lie, in the order they are tried.
std::vector<fs::path> candidates(const fs::path& name) {
  if (name.is_absolute()) return {name};
  std::vector<fs::path> places{name};
  const fs::path exeDir = executableDir();
  if (!exeDir.empty()) {
    places.push_back(exeDir / name);
    places.push_back((exeDir / ".." / "share" / "vesperdeep" / name).lexically_normal());
  }
  return places;
}

// The directories searched, for the message when the sheet is nowhere to be found.
std::string describePlaces(const std::vector<fs::path>& places) {
  std::vector<std::string> dirs;
  for (const fs::path& place : places) {
    std::error_code error;
    const std::string name = fs::absolute(place, error).lexically_normal().parent_path().string();
    if (std::find(dirs.begin(), dirs.end(), name) == dirs.end()) dirs.push_back(name);
  }
  std::string text;
  for (const std::string& dir : dirs)
    text += (text.empty() ? "" : ", ") + dir;
  return text;
}

// Copies cell `code` of the RGBA32 sheet into `tile` as white with the pixel's brightness
// (times its own alpha) as coverage.
void extractTile(const SDL_Surface& sheet, int cell, int code, std::vector<TCOD_ColorRGBA>& tile) {
  const int left = (code % kCellsPerSide) * cell;
  const int top = (code / kCellsPerSide) * cell;
  const auto* pixels = static_cast<const std::uint8_t*>(sheet.pixels);
  for (int y = 0; y < cell; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(top + y) * sheet.pitch;
    for (int x = 0; x < cell; ++x) {
      const std::uint8_t* pixel = row + static_cast<std::size_t>(left + x) * 4;
      const int brightness = std::max({pixel[0], pixel[1], pixel[2]});
      const auto alpha = static_cast<std::uint8_t>(brightness * pixel[3] / 255);
      tile[static_cast<std::size_t>(y) * cell + x] = TCOD_ColorRGBA{255, 255, 255, alpha};
    }
  }
}

// Builds the 256-tile set from a decoded sheet, or reports why it cannot.
TilesetPtr buildTileset(const SDL_Surface& sheet, int cell, const std::string& file) {
  TilesetPtr tileset(TCOD_tileset_new(cell, cell));
  if (!tileset) {
    fail(file, std::string("libtcod could not create a tileset: ") + TCOD_get_error());
    return nullptr;
  }
  std::vector<TCOD_ColorRGBA> tile(static_cast<std::size_t>(cell) * cell);
  for (int code = 0; code < kCellsPerSide * kCellsPerSide; ++code) {
    extractTile(sheet, cell, code, tile);
    if (TCOD_tileset_set_tile_(tileset.get(), code, tile.data()) < 0) {
      fail(file, "libtcod refused glyph " + std::to_string(code) + ": " + TCOD_get_error());
      return nullptr;
    }
  }
  return tileset;
}

// Decodes the sheet at `file` (already known to open) and installs it.
bool loadFrom(const std::string& file, SDL_RWops* stream) {
  const SurfacePtr decoded(SDL_LoadBMP_RW(stream, 1));  // closes the stream either way
  if (!decoded) return fail(file, std::string("not a readable BMP image: ") + SDL_GetError());

  const int width = decoded->w;
  const int height = decoded->h;
  if (width <= 0 || width != height || width % kCellsPerSide != 0) {
    return fail(file, std::to_string(width) + "x" + std::to_string(height) +
                          " pixels do not divide into 16 x 16 square cells");
  }
  const SurfacePtr sheet(SDL_ConvertSurfaceFormat(decoded.get(), SDL_PIXELFORMAT_RGBA32, 0));
  if (!sheet) return fail(file, std::string("cannot convert the image: ") + SDL_GetError());
  if (SDL_LockSurface(sheet.get()) != 0) {
    return fail(file, std::string("cannot read the image: ") + SDL_GetError());
  }
  const TilesetPtr tileset = buildTileset(*sheet, width / kCellsPerSide, file);
  SDL_UnlockSurface(sheet.get());
  if (!tileset) return false;

  TCOD_set_default_tileset(tileset.get());  // libtcod takes its own reference
  return true;
}

}  // namespace

bool load(const char* fileName) {
  if (fileName == nullptr || *fileName == '\0') return fail("", "no file name given");

  const std::vector<fs::path> places = candidates(fs::path(fileName));
  for (const fs::path& place : places) {
    std::error_code error;
    if (!fs::exists(place, error)) continue;
    const std::string file = place.string();
    SDL_RWops* stream = SDL_RWFromFile(file.c_str(), "rb");
    if (stream == nullptr) return fail(file, std::string("cannot open: ") + SDL_GetError());
    return loadFrom(file, stream);
  }
  return fail(fileName, "not found; looked in " + describePlaces(places));
}

}  // namespace fontsheet
