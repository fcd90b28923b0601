#pragma once

// Loading the game's font sheet.
//
// libtcod 1.18 reads font sheets only as PNG and, given anything else, quietly falls back
// to a system font that draws the wrong glyphs. The game's sheet is a BMP, so it is decoded
// here and handed to libtcod as a ready-made tileset.
namespace fontsheet {

// Finds the font sheet `fileName` and installs its glyphs as libtcod's tileset, so that
// the next TCODConsole::initRoot (or an already open window) draws with them.
//
// A relative name is looked up in the working directory, then beside the executable, then
// in <exe dir>/../share/vesperdeep/; an absolute name is tried as given. The file must be a
// BMP of 16 x 16 square cells (the cell size is the image size / 16), glyph i at column
// i % 16, row i / 16. Each of the 256 cells becomes the tile for character code i, its
// brightness becoming coverage, so white-on-black glyphs are drawn in the console's colours.
//
// The first of those places where anything by that name stands is the one used. Only a
// regular file is opened, and opening it never blocks. A sheet larger than 1024 x 1024 pixels
// (64 x 64 a glyph) is refused from its header, before any pixel memory is allocated.
//
// Returns true once the tileset is installed. If the file is missing, cannot be read
// (permission denied, a directory, a pipe or device, a loop of symbolic links), is empty, is
// too large, not a BMP or not 16 x 16 square cells, prints one line naming the file and the reason
// to stderr, leaves the installed tileset as it was and returns false.
bool load(const char* fileName);

// Installs a tileset of blank cells one pixel square in place of the sheet, for a window that
// nobody sees (see App::Window::Unseen); when libtcod cannot make one, the sheet stays.
void installBlank();

// The program name that begins the line a failed load prints ("vesperdeep" unless set; the
// terminal front end sets "vesperdeep-term"). `name` must outlive every later load.
void setProgramName(const char* name);

}  // namespace fontsheet
