#include "FontSheet.hpp"

#include <SDL.h>
#include <libtcod/error.h>
#include <libtcod/globals.h>
#include <libtcod/tileset.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace fontsheet {
namespace {

namespace fs = std::filesystem;

constexpr int kCellsPerSide = 16;
// The largest glyph a sheet may hold, in pixels a side: a 1024 x 1024 sheet. Anything larger
// would make a window no screen can show, so it is refused before any pixel is decoded.
constexpr int kMaxCellPixels = 64;
constexpr int kMaxSheetPixels = kCellsPerSide * kMaxCellPixels;
// The largest file read: a 32-bit sheet of the largest size, with room for headers and a
// palette.
constexpr off_t kMaxSheetBytes = off_t{kMaxSheetPixels} * kMaxSheetPixels * 4 + 64 * 1024;

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

const char* programName = "vesperdeep";

// The single line a failed load leaves on stderr.
bool fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "%s: cannot load font sheet \"%s\" (%s)\n", programName, file.c_str(),
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

// Why a file cannot be opened or looked at, in a player's words.
std::string reasonForError(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "permission denied";
    case ELOOP:
      return "a loop of symbolic links";
    case ENAMETOOLONG:
      return "the name is too long";
    default:
      return std::strerror(error);
  }
}

// Why a file of this type is not a sheet, or an empty string for a regular file.
std::string reasonForType(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISFIFO(mode)) return "not a regular file: a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "not a regular file: a device";
  if (S_ISSOCK(mode)) return "not a regular file: a socket";
  return "not a regular file";
}

// Closes a file descriptor when it goes out of scope.
struct FileCloser {
  int fd;
  ~FileCloser() { ::close(fd); }
};

// Reads the regular file at `file`, a name known to exist, into `bytes` without ever blocking
// (a named pipe or a device is refused before it is opened, and again after, in case it was
// swapped in between). Returns an empty string on success, otherwise the reason.
std::string readRegularFile(const std::string& file, std::vector<std::uint8_t>& bytes) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) {
    // The name exists, so what it leads to not existing means a link that points nowhere.
    return errno == ENOENT ? "a symbolic link to nothing" : reasonForError(errno);
  }
  if (std::string reason = reasonForType(info.st_mode); !reason.empty()) return reason;
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return reasonForError(errno);
  const FileCloser closer{fd};
  if (::fstat(fd, &info) != 0) return reasonForError(errno);
  if (std::string reason = reasonForType(info.st_mode); !reason.empty()) return reason;
  if (info.st_size > kMaxSheetBytes) {
    return "too large: " + std::to_string(info.st_size) + " bytes";
  }
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return reasonForError(errno);
    if (got == 0) break;  // the file shrank while it was read; the decoder sees the rest
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return {};
}

// A little-endian integer of the BMP header.
std::int64_t readLittleEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, int size) {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
  if (size == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

// Refuses, before anything is decoded, a BMP whose header asks for more pixels than the
// largest sheet has. Returns an empty string when the size is acceptable (or the header too
// short to tell: the decoder then says what is wrong).
std::string checkHeaderSize(const std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kInfoHeaderAt = 14;
  if (bytes.size() < kInfoHeaderAt + 12 || bytes[0] != 'B' || bytes[1] != 'M') return {};
  const bool core = readLittleEndian(bytes, kInfoHeaderAt, 4) == 12;  // the oldest header
  const int field = core ? 2 : 4;
  const std::int64_t width = readLittleEndian(bytes, kInfoHeaderAt + 4, field);
  const std::int64_t height = readLittleEndian(bytes, kInfoHeaderAt + 4 + field, field);
  const std::int64_t rows = height < 0 ? -height : height;  // negative: stored top-down
  if (width <= kMaxSheetPixels && rows <= kMaxSheetPixels) return {};
  return "too large: " + std::to_string(width) + " x " + std::to_string(rows) +
         " pixels; a sheet may be at most " + std::to_string(kMaxSheetPixels) + " x " +
         std::to_string(kMaxSheetPixels) + " (" + std::to_string(kMaxCellPixels) + " x " +
         std::to_string(kMaxCellPixels) + " pixels a glyph)";
}

// Decodes the sheet read from `file` and installs it.
bool loadFrom(const std::string& file, const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return fail(file, "an empty file");
  if (std::string reason = checkHeaderSize(bytes); !reason.empty()) return fail(file, reason);
  SDL_RWops* stream = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
  if (stream == nullptr) return fail(file, std::string("cannot read: ") + SDL_GetError());
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

void setProgramName(const char* name) {
  programName = name;
}

void installBlank() {
  const TilesetPtr blank(TCOD_tileset_new(1, 1));
  if (blank) TCOD_set_default_tileset(blank.get());  // libtcod takes its own reference
}

bool load(const char* fileName) {
  if (fileName == nullptr || *fileName == '\0') return fail("", "no file name given");

  const std::vector<fs::path> places = candidates(fs::path(fileName));
  // The first place where something by that name stands is the sheet: if it cannot be used,
  // the reason is told rather than a sheet further down the list taken instead.
  for (const fs::path& place : places) {
    struct stat info {};
    const std::string file = place.string();
    if (::lstat(file.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
    std::vector<std::uint8_t> bytes;
    if (std::string reason = readRegularFile(file, bytes); !reason.empty()) {
      return fail(file, reason);
    }
    return loadFrom(file, bytes);
  }
  return fail(fileName, "not found; looked in " + describePlaces(places));
}

}  // namespace fontsheet
