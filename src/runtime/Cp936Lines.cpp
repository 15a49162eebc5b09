// Line ends for people: the rule that turns CR LF into LF, the same over every backend's
// conversion (see Cp936.h).
#include "runtime/Cp936.h"

std::string cp936ToUtf8Lines(std::string_view text)
{
    std::string lines = cp936ToUtf8(text);
    size_t kept = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == '\r' && i + 1 < lines.size() && lines[i + 1] == '\n')
            continue;
        lines[kept++] = lines[i];
    }
    lines.resize(kept);
    return lines;
}
