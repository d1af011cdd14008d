#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/digest.h"
#include "setupfile/setup_file.h"

// Called after every non-empty chunk written to the save file with the bytes
// received so far and the total (0 when the server gave no length).
using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;

// How a download ended.
enum class DownloadResult {
  // Nothing was saved; a file that was already under the save path and was
  // not replaced is left alone.
  Failed,
  // A whole body was received, but there is no digest of it to check the
  // saved file against. The file has been deleted: there is nothing to start.
  CheckFailed,
  // The whole body is in `saved`: the finished file, and the length and
  // SHA-256 of every byte received, which the file must still hold when it
  // is started.
  Saved,
};

struct SavedBody {
  OwnedSetupFile file;  // whole
  Sha256 digest{};
  std::uint64_t length = 0;
};

// Fetches `url` (https only) with GET into the file `savePath`, following at
// most two redirects (301, 302, 303, 307, 308) to absolute https URLs. Only a
// 200 response whose whole body was saved counts; every other end replaces
// `error` with a short English diagnostic. `progress` may be empty.
DownloadResult DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                            ProgressCallback progress, SavedBody& saved);
