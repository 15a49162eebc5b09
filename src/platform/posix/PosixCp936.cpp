// Code page 936 conversions (runtime/Cp936.h) through the C library's iconv.
#include "runtime/Cp936.h"

#include <cerrno>
#include <iconv.h>

#include <algorithm>

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
constexpr std::string_view kMissingCharacter = "?";
constexpr size_t kBufferBytes = 1024;

// One iconv conversion descriptor, closed with its owner; reused, call after call.
class Converter {
public:
    Converter(const char* to, const char* from)
        : m_descriptor(iconv_open(to, from))
    {
    }
    ~Converter()
    {
        if (valid())
            iconv_close(m_descriptor);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_descriptor != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `text`; at a sequence iconv cannot take, appends `mark` and goes on
    // after the `skip(rest)` bytes that sequence spans.
    template <typename Skip>
    std::string convert(std::string_view text, std::string_view mark, Skip skip)
    {
        // Back to the initial state, whatever the last call left behind.
        iconv(m_descriptor, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.reserve(text.size() * 3 / 2 + 4);
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        char buffer[kBufferBytes];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            size_t result = iconv(m_descriptor, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (result == static_cast<size_t>(-1) && errno != E2BIG) {
                out.append(mark);
                size_t skipped = std::min(inLeft, skip(std::string_view(in, inLeft)));
                in += skipped;
                inLeft -= skipped;
            }
        }
        return out;
    }

private:
    iconv_t m_descriptor;
};

// The length of the UTF-8 character that starts `rest` (which is well-formed).
size_t utf8CharacterLength(std::string_view rest)
{
    auto lead = static_cast<unsigned char>(rest.front());
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// One converter per direction, opened on first use and kept: every server text goes to every
// browser through here, and opening a descriptor loads the conversion's tables afresh. A
// descriptor must not be used by two threads at once, so each thread that converts keeps its
// own (the room converts on its window thread alone).
Converter& fromCp936()
{
    thread_local Converter converter("UTF-8", "CP936");
    return converter;
}

Converter& toCp936()
{
    thread_local Converter converter("CP936", "UTF-8");
    return converter;
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string cp936ToUtf8(std::string_view text)
{
    Converter& converter = fromCp936();
    if (!converter.valid())
        return std::string(text);
    // An invalid or cut-off character shows a replacement mark; reading goes on after its
    // first byte.
    return converter.convert(text, kReplacementCharacter, [](std::string_view) { return size_t { 1 }; });
}

std::string utf8ToCp936(std::string_view utf8)
{
    // Most chat lines are ASCII, which both encodings write alike.
    if (isAscii(utf8))
        return std::string(utf8);
    Converter& converter = toCp936();
    if (!converter.valid())
        return std::string(utf8);
    return converter.convert(utf8, kMissingCharacter, utf8CharacterLength);
}
