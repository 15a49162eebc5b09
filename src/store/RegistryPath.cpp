// The value store's path format (see RegistryPath.h).
#include "store/RegistryPath.h"

#include "runtime/Text.h"
#include "store/ValueStore.h"

#include <cstdlib>

using text_detail::characterStep;
using text_detail::findCharacterStart;

namespace {

constexpr int32_t kFirstRoot = 1;
constexpr int32_t kLastRoot = 5;

size_t findCharacter(std::string_view text, size_t from, char wanted)
{
    return findCharacterStart(text, from, [&](size_t position) { return text[position] == wanted; });
}

} // namespace

RegistryPath splitRegistryPath(std::string_view path)
{
    path = textBeforeNul(path);
    std::vector<size_t> separators = separatorOffsets(path);
    if (separators.empty())
        return { {}, std::string(path) };
    size_t last = separators.back();
    return { std::string(path.substr(0, last)), std::string(path.substr(last + 1)) };
}

int32_t effectiveRoot(int32_t root) { return root >= kFirstRoot && root <= kLastRoot ? root : kRootCurrentUser; }

std::vector<size_t> separatorOffsets(std::string_view path)
{
    std::vector<size_t> offsets;
    for (size_t at = findCharacter(path, 0, '\\'); at != std::string_view::npos; at = findCharacter(path, at + 1, '\\'))
        offsets.push_back(at);
    return offsets;
}

// (A path that ended inside a character would also make "K\" a false prefix of a sibling's
// path, so such a path is no key.)
bool isValidKeyPath(std::string_view key)
{
    if (key.empty())
        return true;
    bool cutCharacter = findCharacterStart(key, 0, [&](size_t position) {
        return position + characterStep(static_cast<unsigned char>(key[position])) > key.size();
    }) != std::string_view::npos;
    if (cutCharacter)
        return false;
    size_t partStart = 0;
    for (size_t separator : separatorOffsets(key)) {
        if (separator == partStart)
            return false;
        partStart = separator + 1;
    }
    return partStart < key.size();
}

std::string stringData(std::string_view text)
{
    std::string data(textBeforeNul(text));
    data += '\0';
    return data;
}

// Only single-byte characters fold: a second byte in 'A'..'Z' belongs to a two-byte character.
std::string foldCase(std::string_view name)
{
    std::string folded(name);
    auto isUpper = [&](size_t position) { return folded[position] >= 'A' && folded[position] <= 'Z'; };
    for (size_t at = findCharacterStart(folded, 0, isUpper); at != std::string::npos; at = findCharacterStart(folded, at + 1, isUpper))
        folded[at] = static_cast<char>(folded[at] - 'A' + 'a');
    return folded;
}

// As on Windows, a name that is not set (or an empty one) leaves its opening '%' in place and
// the scan goes on from the next byte, so the closing '%' may open the next reference; a '%'
// without a partner stays as written.
std::string expandEnvironment(std::string_view text)
{
    std::string expanded;
    size_t i = 0;
    for (size_t open; (open = findCharacter(text, i, '%')) != std::string_view::npos;) {
        expanded.append(text.substr(i, open - i));
        size_t close = findCharacter(text, open + 1, '%');
        if (close != std::string_view::npos) {
            std::string name(text.substr(open + 1, close - open - 1));
            const char* value = name.empty() || name.find('=') != std::string::npos ? nullptr : std::getenv(name.c_str());
            if (value) {
                expanded += value;
                i = close + 1;
                continue;
            }
        }
        expanded += '%';
        i = open + 1;
    }
    expanded.append(text.substr(std::min(i, text.size())));
    return expanded;
}
