#include "net/proxy_route.h"

#include "common/text.h"
#include "net/http_transport.h"

namespace {

// The lookup's proxy or direct; without an answer, the manual proxy when one
// is set, else the default.
ProxyRoute ChooseRoute(const ProxySettings& settings, const ProxyLookup& lookup) {
  if (lookup.outcome == ProxyLookup::Proxy) return {RouteKind::Proxy, lookup.proxy, lookup.bypass};
  if (lookup.outcome == ProxyLookup::Direct) return {RouteKind::Direct, {}, {}};
  if (!settings.proxy.empty()) return {RouteKind::Proxy, settings.proxy, settings.bypass};
  return {};
}

}  // namespace

ProxyRoute RouteFor(RunRoutes& run, const std::string& url, const std::wstring& host) {
  // A PAC script may answer differently per host, so each redirect target is
  // asked, but a host that already has a route keeps it.
  for (const auto& [known, route] : run.hosts) {
    if (known == host) return route;
  }
  if (!run.settingsRead) {
    run.settingsRead = true;
    if (!HttpReadProxySettings(run.settings)) run.settings = {};
  }
  ProxyLookup lookup;
  const ProxySettings& settings = run.settings;
  // One lookup that ran out of time is waited for once: the next would most
  // likely wait as long again.
  if ((settings.autoDetect || !settings.autoConfigUrl.empty()) && !run.lookupTimedOut) {
    lookup = HttpFindProxy(settings, WideFromAscii(url), kProxyLookupBoundMs);
    run.lookupTimedOut = lookup.outcome == ProxyLookup::TimedOut;
  }
  run.hosts.emplace_back(host, ChooseRoute(settings, lookup));
  return run.hosts.back().second;
}
