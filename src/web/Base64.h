// Base64 (RFC 4648, with padding), the encoding of the handshake's keys and of the policy's
// script and style hashes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

std::string base64Encode(std::span<const unsigned char> bytes);
// How many bytes a padded base64 text decodes to, or nothing when it is not one.
std::optional<size_t> base64DecodedSize(std::string_view text);
