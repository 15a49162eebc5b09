// Code page 936 conversions on Win32: MultiByteToWideChar(936) and WideCharToMultiByte, and
// UTF-8 through UTF-16 (CP_UTF8).
//
// Windows reads the user-defined area of code page 936 (for instance AA A1 to AF FE) as
// private-use characters, where the C library on Linux rejects those bytes. Text shown on
// Windows keeps them (a user may have drawn glyphs for them); the UTF-8 that goes to
// standard error rejects them as Linux does, so both programs print the same bytes.
#include "platform/win32/CodePage936.h"

#include "runtime/Cp936.h"

#include <windows.h>

#include <climits>

namespace {

constexpr UINT kCodePage936 = 936;
constexpr wchar_t kReplacementCharacter = 0xFFFD;
constexpr wchar_t kPrivateUseFirst = 0xE000;
constexpr wchar_t kPrivateUseLast = 0xF8FF;
constexpr unsigned char kFirstNonAscii = 0x80;
constexpr size_t kMaxCharacterBytes = 2;
constexpr wchar_t kMissingCharacter = L'?';
constexpr const char* kMissingMark = "?";
constexpr wchar_t kHighSurrogateFirst = 0xD800;
constexpr wchar_t kLowSurrogateFirst = 0xDC00;
constexpr wchar_t kLowSurrogateLast = 0xDFFF;

enum class UserDefinedArea { Keep, Reject };

bool isPrivateUse(wchar_t c) { return c >= kPrivateUseFirst && c <= kPrivateUseLast; }
bool isHighSurrogate(wchar_t c) { return c >= kHighSurrogateFirst && c < kLowSurrogateFirst; }
bool isLowSurrogate(wchar_t c) { return c >= kLowSurrogateFirst && c <= kLowSurrogateLast; }

// Appends the strict conversion of `bytes` to `out`; false, with `out` unchanged, when the
// bytes are not valid code page 936 or map into the private use area while it is rejected.
bool appendStrictly(std::string_view bytes, UserDefinedArea area, std::wstring& out)
{
    if (bytes.size() > static_cast<size_t>(INT_MAX))
        return false;
    int count = static_cast<int>(bytes.size());
    int needed = MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, bytes.data(), count, nullptr, 0);
    if (needed <= 0)
        return false;
    size_t start = out.size();
    out.resize(start + static_cast<size_t>(needed));
    MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, bytes.data(), count, out.data() + start, needed);
    if (area == UserDefinedArea::Reject) {
        for (size_t i = start; i < out.size(); ++i) {
            if (isPrivateUse(out[i])) {
                out.resize(start);
                return false;
            }
        }
    }
    return true;
}

std::wstring toWide(std::string_view text, UserDefinedArea area)
{
    std::wstring wide;
    if (text.empty() || appendStrictly(text, area, wide))
        return wide;
    // Some bytes are not valid: go character by character, a two-byte one first, then a
    // single byte (0x80 is one), and a byte that starts neither becomes one U+FFFD.
    for (size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < kFirstNonAscii) {
            wide += static_cast<wchar_t>(byte);
            ++i;
            continue;
        }
        size_t start = wide.size();
        if (i + 1 < text.size() && appendStrictly(text.substr(i, kMaxCharacterBytes), area, wide)) {
            if (wide.size() == start + 1) {
                i += kMaxCharacterBytes;
                continue;
            }
            wide.resize(start); // two single-byte characters: take the first only
        }
        if (!appendStrictly(text.substr(i, 1), area, wide))
            wide += kReplacementCharacter;
        ++i;
    }
    return wide;
}

// `missingMark` stands for a character the code page lacks (null: the code page's own).
std::string fromWide(UINT codePage, std::wstring_view text, DWORD flags, BOOL* usedDefault, const char* missingMark = nullptr)
{
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX))
        return {};
    int count = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(codePage, flags, text.data(), count, nullptr, 0, missingMark, usedDefault);
    if (needed <= 0)
        return {};
    std::string bytes(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), count, bytes.data(), needed, missingMark, usedDefault);
    return bytes;
}

} // namespace

std::wstring cp936ToWide(std::string_view text) { return toWide(text, UserDefinedArea::Keep); }

std::string wideToCp936(std::wstring_view text) { return fromWide(kCodePage936, text, 0, nullptr); }

std::optional<std::string> wideToCp936Exactly(std::wstring_view text)
{
    BOOL usedDefault = FALSE;
    std::string bytes = fromWide(kCodePage936, text, WC_NO_BEST_FIT_CHARS, &usedDefault);
    if (usedDefault || (bytes.empty() && !text.empty()))
        return std::nullopt;
    return bytes;
}

std::string utf8ToCp936(std::string_view utf8)
{
    if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX))
        return {};
    int count = static_cast<int>(utf8.size());
    int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), count, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), count, wide.data(), needed);
    // A character beyond the BMP is a surrogate pair, which code page 936 lacks: one "?" for
    // the pair, not one for each half.
    std::wstring characters;
    characters.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        if (isHighSurrogate(wide[i]) && i + 1 < wide.size() && isLowSurrogate(wide[i + 1])) {
            characters += kMissingCharacter;
            ++i;
            continue;
        }
        characters += wide[i];
    }
    // No best fit: a character without a form of its own becomes "?", never a look-alike.
    return fromWide(kCodePage936, characters, WC_NO_BEST_FIT_CHARS, nullptr, kMissingMark);
}

std::string cp936ToUtf8(std::string_view text)
{
    // Unpaired surrogates cannot occur: every code page 936 character lies in the BMP.
    return fromWide(CP_UTF8, toWide(text, UserDefinedArea::Reject), 0, nullptr);
}
