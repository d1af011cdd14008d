#pragma once

#include <cstddef>
#include <string>

// The file operations the software list needs from the platform. Paths are
// UTF-8; on Windows files are opened by the UTF-16 form of the path, so no
// character is lost to the ANSI code page.

enum class FileReadResult { Read, Missing, Failed };

// The folder the list lies in, opened and checked once and held until the
// list is replaced; every file below is reached by its name in this folder,
// never by a path resolved again. Opaque to portable code.
struct ListFolderTag;
using ListFolder = ListFolderTag*;

// Reads the file into `bytes`, at most `limit` + 1 bytes of it, so a longer
// file shows as `bytes.size() > limit` without more being held. Opened
// without denying others read or write access. `Missing` when there is no such
// file, `Failed` on any other open or read error and for a file that is not the
// list's own (on Windows: a link, or a file with another name), with `bytes`
// holding what was read before.
FileReadResult ReadWholeFile(ListFolder folder, const std::string& name, std::size_t limit,
                             std::string& bytes);

// Writes `bytes` to a new temporary file in `folder`, flushes it to disk and
// moves it over `name` in one step. On any failure the temporary
// file is removed, `path` is left as it was, and the result is false.
bool ReplaceFileContents(ListFolder folder, const std::string& name, const std::string& bytes);
