#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The build of the full setup program to fetch.
enum class DownloadChannel { Win7, Release };

// The download origin followed by the channel's path (8-bit ASCII).
std::string DownloadChannelUrl(DownloadChannel channel);

// True when one of the two WebView2 client keys (machine first, then user)
// holds a usable "pv" text; stops at the first key that decides.
bool IsWebView2Registered();

// 6.1 (any service pack) -> Win7 without reading the registry; otherwise
// Release when WebView2 is registered, else Win7.
DownloadChannel ChooseDownloadChannel();
