#pragma once

#include <array>
#include <cstdint>

// SHA-256 as the downloader and the setup file need it from the platform: the system's
// CryptoAPI (digest_win32.cpp); natively a fake in the test.

using Sha256 = std::array<unsigned char, 32>;

// A digest being computed, opaque to portable code; null means it could not
// be begun.
struct RunningDigestTag;
using RunningDigest = RunningDigestTag*;

// SHA-256 over the bytes added in order. FinishDigest gives the value and
// releases the digest; false when any step failed.
RunningDigest BeginDigest();
bool AddToDigest(RunningDigest digest, const void* bytes, std::uint32_t size);
bool FinishDigest(RunningDigest digest, Sha256& value);
