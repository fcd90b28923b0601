#pragma once

// The glyphs of code page 437, the layout of the game's font sheet, as the Unicode characters
// they picture, and as plain ASCII look-alikes for a terminal that cannot show those.

#include <string>

namespace cp437 {

// The Unicode code point of glyph `code` (0..255): 205 is U+2550, 247 U+2248, 1 U+263A, 7
// U+2022, 15 U+263C. Code 0 draws nothing and reads as a space; a code outside 0..255 gives
// U+FFFD.
char32_t unicode(int code);

// `point` appended to `out` in UTF-8 (code points up to U+FFFF, which is all the table holds).
void appendUtf8(std::string& out, char32_t point);

// Glyph `code` in UTF-8.
std::string utf8(int code);

// A printable ASCII character that looks like glyph `code`: the character itself for 32..126,
// '=' for the double line 205, '~' for the waves 247, '#' for the blocks, '+' for corners and
// joins; '?' for a code outside 0..255.
char ascii(int code);

}  // namespace cp437
