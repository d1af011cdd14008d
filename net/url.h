#pragma once

#include <cstdint>
#include <string>

// Splits an "https://host[:port][/path]" URL (the whole text must have that
// form). Host and path are widened byte by byte into UTF-16; the port defaults to 443 and
// the path to "/". Returns false, leaving the outputs untouched, when the URL
// has another form or its port is beyond 65535.
bool ParseHttpsUrl(const std::string& url, std::wstring& host, std::int32_t& port,
                   std::wstring& path);
