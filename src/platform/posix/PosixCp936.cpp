// CP936 to UTF-8 (runtime/Cp936.h) through the C library's iconv.
#include "runtime/Cp936.h"

#include <cerrno>
#include <iconv.h>

std::string cp936ToUtf8(std::string_view text)
{
    iconv_t converter = iconv_open("UTF-8", "CP936");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::string(text);
    std::string out;
    out.reserve(text.size() * 3 / 2 + 4);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            // An invalid or cut-off character: show a replacement mark and go on after it.
            out.append("\xEF\xBF\xBD");
            ++in;
            --inLeft;
        }
    }
    iconv_close(converter);
    return out;
}
