// Text operations of the chat room: code page 936 byte strings with 1-based byte positions,
// -1 for "not found", and scans that step over two-byte characters so that no match ever
// starts on the second byte of a character.
#pragma once

#include "runtime/ByteBlock.h"
#include "runtime/TextArray.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A Text holds the bytes before the terminating NUL. The empty string stands for both the
// absent and the empty text, so the two behave alike everywhere.
using Text = std::string;

Text concatText(std::string_view a, std::string_view b, std::string_view c = {}, std::string_view d = {});
int32_t textLength(std::string_view text);
int compareText(std::string_view a, std::string_view b);

// 1-based byte position of the first occurrence of `sought` that starts on a character
// boundary, or -1. An empty `sought` is found at 1 in any non-empty text.
int32_t findText(std::string_view text, std::string_view sought);

// Every non-overlapping occurrence (left to right, character starts only) replaced.
Text replaceText(std::string_view text, std::string_view sought, std::string_view replacement);

// Parts between separators: inner empty parts are kept, an empty remainder is dropped, and
// at most `limit` parts are taken (a negative limit counts as 0; no limit is unlimited).
TextArray splitText(std::string_view text, std::string_view separator, std::optional<int32_t> limit = std::nullopt);

// The last part that splitText(text, separator) gives, without building the others; nothing
// when it gives no part at all (an empty text). The view points into `text`.
std::optional<std::string_view> lastSplitPart(std::string_view text, std::string_view separator);

// The leading decimal number after full-width folding; 0 when there is none.
double toNumber(std::string_view text);
Text toText(double value);
Text toText(const ByteBlock& block);
int32_t toInteger(double value);

// The bytes before the first NUL: a text ends there, wherever its bytes came from.
std::string_view textBeforeNul(std::string_view bytes);

// Scanning helpers shared by the operations above and by every other two-byte-aware search.
namespace text_detail {
// The length of the character that starts with `byte`: two for a lead byte (high bit set).
inline size_t characterStep(unsigned char byte) { return (byte & 0x80) ? 2 : 1; }

// The first character start at or after `from` (itself taken as a character start) for which
// `matches(position)` holds, or npos. The scan steps over two-byte characters, so a position
// on a second byte is never offered, whatever that byte looks like.
template<typename Match>
size_t findCharacterStart(std::string_view text, size_t from, Match matches)
{
    for (size_t position = from; position < text.size(); position += characterStep(static_cast<unsigned char>(text[position]))) {
        if (matches(position))
            return position;
    }
    return std::string_view::npos;
}

// The first character start at or after `from` where `sought` (non-empty) begins, or npos.
size_t findAtCharacterStart(std::string_view text, size_t from, std::string_view sought);
}
