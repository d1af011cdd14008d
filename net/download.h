#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Called after every non-empty chunk written to the save file with the bytes
// received so far and the total (0 when the server gave no length).
using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;

// Fetches `url` (https only) with GET into the file `savePath`. Returns true
// when a 200 response's whole body was saved; on failure returns false and
// replaces `error` with a short English diagnostic. `progress` may be empty.
bool DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                  ProgressCallback progress);
