// The two hashes the web entrance needs: SHA-1 for the WebSocket handshake's accept key and
// SHA-256 for the page's Content-Security-Policy. Both come from the platform's own hashing
// (Qt on Linux, BCrypt on Windows); the backend supplies these two calls.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

inline constexpr size_t kSha1Bytes = 20;
inline constexpr size_t kSha256Bytes = 32;

using Sha1Digest = std::array<unsigned char, kSha1Bytes>;
using Sha256Digest = std::array<unsigned char, kSha256Bytes>;

Sha1Digest sha1(std::string_view bytes);
Sha256Digest sha256(std::string_view bytes);
