#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Which way each request of a download goes: the user's own proxy settings
// (Internet Options), the answer of auto-detection or their PAC script for the
// URL, or the transport's default. Plain records and rules; the settings and
// the answers come from the transport (http_transport.h).

// The user's proxy settings; every field empty or false when none is set.
struct ProxySettings {
  bool autoDetect = false;     // auto-detection (WPAD)
  std::wstring autoConfigUrl;  // the PAC script's URL
  std::wstring proxy;          // the manual proxy, as the settings write it
  std::wstring bypass;         // its bypass list
};

enum class RouteKind {
  Default,  // the transport's own setting (the machine-wide one on Windows)
  Direct,   // no proxy
  Proxy,    // through `proxy`, except for the hosts on `bypass`
};

struct ProxyRoute {
  RouteKind kind = RouteKind::Default;
  std::wstring proxy;
  std::wstring bypass;
};

// What auto-detection and the PAC script answered for one URL.
struct ProxyLookup {
  enum Outcome { NoAnswer, Proxy, Direct, TimedOut } outcome = NoAnswer;
  std::wstring proxy;
  std::wstring bypass;
};

// How long a lookup may take before the download goes on without its answer.
constexpr int kProxyLookupBoundMs = 5000;

// The routes of one download: the settings are read at the first request,
// each host keeps the routes it got first, and a lookup that gave no answer
// (none, or not within the bound) is not made again.
struct RunRoutes {
  bool settingsRead = false;
  ProxySettings settings;
  bool lookupFailed = false;
  std::vector<std::pair<std::wstring, std::vector<ProxyRoute>>> hosts;
};

// The routes for a request to `host` on `port`, in the order they are tried:
// each next one only when the one before could not be reached. Asks the
// transport for the settings and the lookup as far as needed.
std::vector<ProxyRoute> RoutesFor(RunRoutes& run, const std::wstring& host, std::int32_t port);

// Whether a request to `host` on `route` goes through a proxy: not when direct,
// not when the host is on the route's bypass list, and on the default route
// only when the machine-wide setting names a proxy for it. A bypass entry is
// read generously (any scheme and port), so that a host the transport may
// reach directly never counts as proxied.
bool ThroughProxy(const ProxyRoute& route, const std::wstring& host);
