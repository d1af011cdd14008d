// The software list file: a line scanner, not a TOML parser.
//
// Grammar. The file is a sequence of lines, each ended by LF or CR LF (a CR
// right before a LF is part of the line end; any other CR is a plain byte).
// The last line counts even without a line end. Each line is classified by the
// first of these tests that holds, a case-sensitive search anywhere in it:
//
//   contains "[[software]]"     record header
//   contains "name"             sets name
//   contains "product_id"       sets product_id
//   contains "distributor_id"   sets distributor_id
//   anything else               ignored (comments, blank lines, other tables)
//
// A record header closes the record being built: it is kept when its
// product_id is not empty, and a fresh, empty record begins. Key lines before
// the first header fill the first record. A key line without '=' leaves its
// field as it was; otherwise the field becomes everything after the first '=',
// with every double quote removed and then the leading spaces and tabs. The
// end of the text closes the last record like a header does. No escapes exist:
// a backslash is a plain byte.
//
// Written form: per record the four lines
//   [[software]]
//   name = "<name>"
//   product_id = "<product_id>"
//   distributor_id = "<distributor_id>"
// values byte for byte, every line ended by CR LF, nothing else.

#include "softwarelist/software_list.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kRecordHeader = "[[software]]";
constexpr std::string_view kLineEnd = "\r\n";

bool Contains(std::string_view line, std::string_view text) {
  return line.find(text) != std::string_view::npos;
}

void SetFieldFromKeyLine(std::string_view line, std::string& field) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  std::string value(line.substr(equals + 1));
  value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
  const std::size_t first = value.find_first_not_of(" \t");
  value.erase(0, first == std::string::npos ? value.size() : first);
  field = std::move(value);
}

void CloseRecord(SoftwareEntry& current, SoftwareList& list) {
  if (!current.product_id.empty()) list.push_back(current);
  current = SoftwareEntry{};
}

}  // namespace

SoftwareList ParseSoftwareList(const std::string& text) {
  SoftwareList list;
  SoftwareEntry current;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const bool hasLineFeed = end != std::string::npos;
    if (!hasLineFeed) end = text.size();
    std::string_view line(text.data() + start, end - start);
    if (hasLineFeed && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = hasLineFeed ? end + 1 : end;

    if (Contains(line, kRecordHeader)) {
      CloseRecord(current, list);
    } else if (Contains(line, "name")) {
      SetFieldFromKeyLine(line, current.name);
    } else if (Contains(line, "product_id")) {
      SetFieldFromKeyLine(line, current.product_id);
    } else if (Contains(line, "distributor_id")) {
      SetFieldFromKeyLine(line, current.distributor_id);
    }
  }
  CloseRecord(current, list);
  return list;
}

std::string FormatSoftwareList(const SoftwareList& list) {
  std::string text;
  for (const SoftwareEntry& entry : list) {
    text.append(kRecordHeader).append(kLineEnd);
    text.append("name = \"").append(entry.name).append("\"").append(kLineEnd);
    text.append("product_id = \"").append(entry.product_id).append("\"").append(kLineEnd);
    text.append("distributor_id = \"").append(entry.distributor_id).append("\"").append(kLineEnd);
  }
  return text;
}

FileReadResult ReadSoftwareListFile(ListFolder folder, const std::string& name, SoftwareList& list) {
  std::string bytes;
  const FileReadResult result = ReadWholeFile(folder, name, kMaxSoftwareListBytes, bytes);
  // Bounded, so that what is made of it always fits in memory.
  if (bytes.size() > kMaxSoftwareListBytes) {
    list.clear();
    return FileReadResult::Failed;
  }
  // A read that stopped on an error still yields the records before it.
  list = ParseSoftwareList(bytes);
  return result;
}

bool WriteSoftwareList(ListFolder folder, const std::string& name, const SoftwareList& list) {
  return ReplaceFileContents(folder, name, FormatSoftwareList(list));
}
