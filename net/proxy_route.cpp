#include "net/proxy_route.h"

#include "common/text.h"
#include "net/http_transport.h"

namespace {

constexpr auto kNone = std::wstring::npos;

wchar_t Lower(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = Lower(c);
  return text;
}

// The entries of a proxy or bypass list, which WinHTTP separates with ";" or
// whitespace.
std::vector<std::wstring> ListEntries(const std::wstring& list) {
  std::vector<std::wstring> entries(1);
  for (const wchar_t c : list) {
    const bool separator = c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
    if (!separator) entries.back() += c;
    if (separator && !entries.back().empty()) entries.emplace_back();
  }
  if (entries.back().empty()) entries.pop_back();
  return entries;
}

// `pattern`, where "*" stands for any run of characters, against all of `text`,
// ASCII letters in either case.
bool Matches(const std::wstring& pattern, const std::wstring& text) {
  std::size_t p = 0, t = 0, star = kNone, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++, resume = t;
    } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
      ++p, ++t;
    } else if (star != kNone) {
      p = star + 1, t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

bool OnBypassList(const std::wstring& bypass, const std::wstring& host) {
  for (std::wstring entry : ListEntries(bypass)) {
    if (Lower(entry) == L"<local>") {
      if (host.find(L'.') == kNone) return true;
      continue;
    }
    // Without its scheme and port: such an entry bypasses the host for some
    // requests at least.
    if (const std::size_t scheme = entry.find(L"://"); scheme != kNone) entry.erase(0, scheme + 3);
    if (const std::size_t colon = entry.rfind(L':'); colon != kNone) entry.erase(colon);
    if (Matches(entry, host)) return true;
  }
  return false;
}

// Whether a proxy list names one for https: an entry for every scheme, or one
// for https ("https=p:1"); "http=p:1" alone leaves https requests direct.
bool NamesHttpsProxy(const std::wstring& proxies) {
  for (const std::wstring& entry : ListEntries(proxies)) {
    const std::size_t equals = entry.find(L'=');
    if (equals == kNone || Lower(entry.substr(0, equals)) == L"https") return true;
  }
  return false;
}

// The lookup's proxies or direct; without an answer, the manual proxy when
// one is set, else the default. Past an unreachable proxy the next one is
// tried, and past the last one direct.
std::vector<ProxyRoute> ChooseRoutes(const ProxySettings& settings, const ProxyLookup& lookup) {
  const ProxyRoute direct{RouteKind::Direct, {}, {}};
  if (lookup.outcome == ProxyLookup::Direct) return {direct};
  std::vector<ProxyRoute> routes;
  if (lookup.outcome == ProxyLookup::Proxy) {
    // WinHTTP would use only the first proxy of the answer's list, and never
    // move on to the next: each gets a session of its own.
    for (const std::wstring& proxy : ListEntries(lookup.proxy)) {
      routes.push_back({RouteKind::Proxy, proxy, lookup.bypass});
    }
  } else if (!settings.proxy.empty()) {
    routes.push_back({RouteKind::Proxy, settings.proxy, settings.bypass});
  } else {
    return {ProxyRoute{}};
  }
  routes.push_back(direct);
  return routes;
}

}  // namespace

std::vector<ProxyRoute> RoutesFor(RunRoutes& run, const std::wstring& host, std::int32_t port) {
  // A PAC script may answer differently per host, so each redirect target is
  // asked, but a host that already has its routes keeps them.
  for (const auto& [known, routes] : run.hosts) {
    if (known == host) return routes;
  }
  if (!run.settingsRead) {
    run.settingsRead = true;
    if (!HttpReadProxySettings(run.settings)) run.settings = {};
  }
  ProxyLookup lookup;
  const ProxySettings& settings = run.settings;
  // A lookup that gave no answer is made once: the next would most likely
  // fail, or wait, as long again.
  if ((settings.autoDetect || !settings.autoConfigUrl.empty()) && !run.lookupFailed) {
    // Asked as browsers ask about https URLs: the script sees the host and
    // port, never the path and query.
    std::wstring url = L"https://" + host;
    if (port != 443) url += L":" + WideFromAscii(DecimalText(port));
    lookup = HttpFindProxy(settings, url + L"/", kProxyLookupBoundMs);
    run.lookupFailed =
        lookup.outcome != ProxyLookup::Proxy && lookup.outcome != ProxyLookup::Direct;
  }
  run.hosts.emplace_back(host, ChooseRoutes(settings, lookup));
  return run.hosts.back().second;
}

bool ThroughProxy(const ProxyRoute& route, const std::wstring& host) {
  ProxyRoute used = route;
  if (route.kind == RouteKind::Direct) return false;
  if (route.kind == RouteKind::Default && !HttpReadMachineProxy(used.proxy, used.bypass)) {
    return false;
  }
  return NamesHttpsProxy(used.proxy) && !OnBypassList(used.bypass, host);
}
