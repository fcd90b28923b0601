#pragma once

// The page's files, built into the server (the list is in server/CMakeLists.txt; the contents
// come from web/ and the game's font sheet). Nothing else is ever served.

#include <cstddef>

namespace server {

struct PageFile {
  const char* path;  // the exact request path that gets it ("/", "/vesperdeep.js")
  const char* type;  // its Content-Type
  const unsigned char* data;
  std::size_t size;
};

extern const PageFile kPageFiles[];
extern const std::size_t kPageFileCount;

}  // namespace server
