#include "net/url.h"

#include <regex>

#include "common/text.h"

namespace {

// Decimal digits to a TCP port. The URL form allows any run of digits; a value
// past 65535 would otherwise wrap around (or overflow a 32-bit integer), so it
// is refused rather than connecting to some other port.
bool PortFromDigits(const std::string& digits, std::int32_t& port) {
  std::int32_t value = 0;
  for (char digit : digits) {
    value = value * 10 + (digit - '0');
    if (value > 65535) return false;
  }
  port = value;
  return true;
}

}  // namespace

bool ParseHttpsUrl(const std::string& url, std::wstring& host, std::int32_t& port,
                   std::wstring& path) {
  static const std::regex kForm("https://([^/:]+)(:(\\d+))?(/.*)?", std::regex::ECMAScript);
  std::smatch match;
  if (!std::regex_match(url, match, kForm)) return false;
  std::int32_t parsedPort = 443;
  if (match[3].matched && !PortFromDigits(match[3].str(), parsedPort)) return false;
  host = WideFromAscii(match[1].str());
  port = parsedPort;
  path = match[4].matched ? WideFromAscii(match[4].str()) : L"/";
  return true;
}
