#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "softwarelist/file_platform.h"

// One record of the software list file; bytes as stored (UTF-8 text).
struct SoftwareEntry {
  std::string name;
  std::string product_id;
  std::string distributor_id;
};

inline bool operator==(const SoftwareEntry& a, const SoftwareEntry& b) {
  return a.name == b.name && a.product_id == b.product_id && a.distributor_id == b.distributor_id;
}

using SoftwareList = std::vector<SoftwareEntry>;

// A list file longer than this is not read (16 MiB).
constexpr std::size_t kMaxSoftwareListBytes = std::size_t{16} << 20;

// Scans the text of a software list file into its records (see the grammar
// at the top of software_list.cpp). Never fails.
SoftwareList ParseSoftwareList(const std::string& text);

// The fixed four-line form of `list`, every line ended by CR LF.
std::string FormatSoftwareList(const SoftwareList& list);

// Names are UTF-8 text; the Windows layer opens files by the UTF-16 form of
// that text, so every character of the name is kept.

// Reads and parses the file `name` in `folder`. `Failed` means the file exists but
// could not be opened or read to its end; `list` then holds the records that
// stood before the error, or none when the file is longer than
// kMaxSoftwareListBytes.
FileReadResult ReadSoftwareListFile(ListFolder folder, const std::string& name, SoftwareList& list);

// Replaces the file `name` in `folder` with the fixed form of `list` in one step: the
// old file stays byte for byte unless the whole new content was written.
bool WriteSoftwareList(ListFolder folder, const std::string& name, const SoftwareList& list);
