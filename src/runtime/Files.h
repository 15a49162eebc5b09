// The program's directory and the files it reads: the word library lives beside the program.
#pragma once

#include "runtime/ByteBlock.h"

#include <string>
#include <string_view>

// The directory of the running executable (symbolic links resolved), without a trailing
// separator; empty when it cannot be found.
std::string programDirectory();

// `directory` and `name` joined with the platform's separator.
std::string joinPath(std::string_view directory, std::string_view name);

// True when a directory entry matches the path; "*" and "?" match as in a file search, and
// directories count.
bool fileExists(std::string_view path);

// The whole file, or the empty block on any failure (a directory gives the empty block).
ByteBlock readFile(std::string_view path);

// Makes `directory` the current directory; false when it cannot.
bool changeDirectory(std::string_view directory);
