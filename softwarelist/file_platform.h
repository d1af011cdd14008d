#pragma once

#include <string>

// The file operations the software list needs from the platform. Paths are
// UTF-8; on Windows files are opened by the UTF-16 form of the path, so no
// character is lost to the ANSI code page.

enum class FileReadResult { Read, Missing, Failed };

// Reads the whole file into `bytes`, opened without denying others read or
// write access. `Missing` when there is no such file, `Failed` on any other
// open or read error (then `bytes` holds what was read before it).
FileReadResult ReadWholeFile(const std::string& path, std::string& bytes);

// Writes `bytes` to a temporary file in the directory of `path`, flushes it to
// disk and moves it over `path` in one step. On any failure the temporary file
// is removed, `path` is left as it was, and the result is false.
bool ReplaceFileContents(const std::string& path, const std::string& bytes);
