// The value store's path rules (see RegistryPath.h and splitRegistryPath in ValueStore.h).
#include "runtime/RegistryPath.h"

#include "runtime/Text.h"
#include "runtime/ValueStore.h"

using text_detail::characterStep;

namespace registry_detail {

std::string_view untilNul(std::string_view bytes)
{
    size_t nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

int32_t effectiveRoot(int32_t root) { return root >= 1 && root <= 5 ? root : kRootCurrentUser; }

std::vector<size_t> separatorOffsets(std::string_view path)
{
    std::vector<size_t> offsets;
    for (size_t i = 0; i < path.size(); i += characterStep(static_cast<unsigned char>(path[i]))) {
        if (path[i] == '\\')
            offsets.push_back(i);
    }
    return offsets;
}

// (A path that ended inside a character would also make "K\" a false prefix of a sibling's
// path.)
bool isValidKeyPath(std::string_view key)
{
    size_t partStart = 0;
    for (size_t i = 0; i < key.size();) {
        auto byte = static_cast<unsigned char>(key[i]);
        if (byte == '\\') {
            if (i == partStart)
                return false;
            partStart = ++i;
            continue;
        }
        size_t step = characterStep(byte);
        if (i + step > key.size())
            return false;
        i += step;
    }
    return key.empty() || partStart < key.size();
}

std::string stringData(std::string_view text)
{
    std::string data(untilNul(text));
    data += '\0';
    return data;
}

}

using namespace registry_detail;

RegistryPath splitRegistryPath(std::string_view path)
{
    path = untilNul(path);
    std::vector<size_t> separators = separatorOffsets(path);
    if (separators.empty())
        return { {}, std::string(path) };
    size_t last = separators.back();
    return { std::string(path.substr(0, last)), std::string(path.substr(last + 1)) };
}
