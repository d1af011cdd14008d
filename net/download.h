#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/save_file.h"

// Called after every non-empty chunk written to the save file with the bytes
// received so far and the total (0 when the server gave no length).
using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;

// The saved file, held open after a download: read and delete access,
// sharing read only, so that no other process can write, rename or delete it
// while it is held. Deleted through DeleteSavedFile, or let go with
// CloseSavedFile (save_file.h).
using HeldFile = FileHandle;

// Fetches `url` (https only) with GET into the file `savePath`, following at
// most two redirects (301, 302, 303, 307, 308) to absolute https URLs.
// Returns true when a 200 response's whole body was saved; on failure returns
// false and replaces `error` with a short English diagnostic. `progress` may
// be empty.
//
// After a true result, `*heldFile` (when given) is the saved file re-opened
// the moment it was written and checked against the length and SHA-256 of
// every byte received; null when it could not be re-opened so or did not
// match, and then it must not be run. The caller closes it. Without
// `heldFile` the file is checked and let go.
bool DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                  ProgressCallback progress, HeldFile* heldFile = nullptr);
