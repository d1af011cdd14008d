#include "net/url.h"

#include <algorithm>
#include <string_view>

#include "common/text.h"

namespace {

// Decimal digits to a TCP port. The URL form allows any run of digits; a value
// past 65535 would otherwise wrap around (or overflow a 32-bit integer), so it
// is refused rather than connecting to some other port.
bool PortFromDigits(std::string_view digits, std::int32_t& port) {
  std::int32_t value = 0;
  for (char digit : digits) {
    value = value * 10 + (digit - '0');
    if (value > 65535) return false;
  }
  port = value;
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// The whole URL must have the form https://HOST[:PORT][/PATH], exactly as the
// pattern `https://([^/:]+)(:(\d+))?(/.*)?` matches it in full: HOST is one or
// more bytes up to the first "/" or ":", PORT one or more ASCII digits, PATH
// a "/" and any bytes but line feed and carriage return. Scanned in one pass
// without backtracking, so that the longest Location WinHTTP hands on (2047
// UTF-16 units, some 6 KB of UTF-8) or a longer URL costs no deep recursion.
bool ParseHttpsUrl(const std::string& url, std::wstring& host, std::int32_t& port,
                   std::wstring& path) {
  constexpr std::string_view kScheme = "https://";
  const std::string_view text = url;
  if (text.substr(0, kScheme.size()) != kScheme) return false;
  const std::size_t hostEnd = std::min(text.find_first_of("/:", kScheme.size()), text.size());
  if (hostEnd == kScheme.size()) return false;

  std::size_t at = hostEnd;
  std::int32_t parsedPort = 443;
  if (at < text.size() && text[at] == ':') {
    const std::size_t digits = ++at;
    while (at < text.size() && IsDigit(text[at])) ++at;
    if (at == digits || !PortFromDigits(text.substr(digits, at - digits), parsedPort)) return false;
  }
  const std::string_view rest = text.substr(at);
  if (!rest.empty() && (rest[0] != '/' || rest.find_first_of("\r\n") != std::string_view::npos))
    return false;

  host = WideFromAscii(text.substr(kScheme.size(), hostEnd - kScheme.size()));
  port = parsedPort;
  path = rest.empty() ? L"/" : WideFromAscii(rest);
  return true;
}
