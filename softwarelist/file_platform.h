#pragma once

#include <filesystem>
#include <string>

// The file operations the software list needs from the platform. Paths keep
// every character: on Windows they are opened by their UTF-16 form.

enum class FileReadResult { Read, Missing, Failed };

// Reads the whole file into `bytes`, opened without denying others read or
// write access. `Missing` when there is no such file, `Failed` on any other
// open or read error (then `bytes` holds what was read before it).
FileReadResult ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

// Writes `bytes` to a temporary file in the directory of `path`, flushes it to
// disk and moves it over `path` in one step. On any failure the temporary file
// is removed, `path` is left as it was, and the result is false.
bool ReplaceFileContents(const std::filesystem::path& path, const std::string& bytes);
