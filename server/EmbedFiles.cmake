# Writes OUTPUT, a C++ source defining server::kPageFiles from ENTRIES, a list of
# "request path|content type|file" items (text types get "; charset=utf-8"); a file that does not exist is left out.
set(definitions "")
set(table "")
set(index 0)
foreach(entry IN LISTS ENTRIES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 path)
  list(GET parts 1 type)
  list(GET parts 2 file)
  if(type MATCHES "^text/")
    string(APPEND type "; charset=utf-8")
  endif()
  if(NOT EXISTS "${file}")
    continue()
  endif()
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND definitions "const unsigned char file${index}[] = {${bytes}0};\n")
  file(SIZE "${file}" size)
  string(APPEND table "    {\"${path}\", \"${type}\", file${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Made by server/EmbedFiles.cmake from the page's files: do not edit.
#include \"PageFiles.hpp\"

namespace server {
namespace {
${definitions}}  // namespace

const PageFile kPageFiles[] = {
${table}    {nullptr, nullptr, nullptr, 0},
};
const std::size_t kPageFileCount = ${index};

}  // namespace server
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
