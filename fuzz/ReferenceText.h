// Plain reference versions of the text operations for the differential fuzz targets: each
// one written straight from the rules (1-based positions, -1, a byte from 0x80 up starting a
// two-byte character, a lead byte that is the last byte ending the scan), with no shortcut,
// so that a mismatch points at the optimised code and not at the reference.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reference {

// A text is the bytes before its first NUL.
inline std::string text(const std::string& bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

inline bool isLead(char byte) { return static_cast<unsigned char>(byte) >= 0x80; }

// Moves p past the character that starts there. False when that character is a lead byte
// with nothing after it: the scan ends.
inline bool step(const std::string& t, size_t& p)
{
    if (isLead(t[p])) {
        if (p + 1 == t.size())
            return false;
        p += 2;
    } else {
        p += 1;
    }
    return true;
}

inline int32_t find(const std::string& textBytes, const std::string& soughtBytes)
{
    std::string t = text(textBytes);
    std::string s = text(soughtBytes);
    if (s.empty())
        return t.empty() ? -1 : 1;
    size_t p = 0;
    while (t.size() - p >= s.size()) {
        if (t.substr(p, s.size()) == s)
            return static_cast<int32_t>(p + 1);
        if (!step(t, p))
            break;
    }
    return -1;
}

inline std::string replace(const std::string& textBytes, const std::string& soughtBytes, const std::string& replacementBytes)
{
    std::string t = text(textBytes);
    std::string s = text(soughtBytes);
    std::string r = text(replacementBytes);
    if (t.empty() || s.empty())
        return t;
    std::string out;
    size_t p = 0;
    while (t.size() - p >= s.size()) {
        if (t.substr(p, s.size()) == s) {
            out += r;
            p += s.size();
            continue;
        }
        size_t start = p;
        if (!step(t, p))
            break;
        out += t.substr(start, p - start);
    }
    out += t.substr(p);
    return out;
}

inline std::vector<std::string> split(const std::string& textBytes, const std::string& separatorBytes, std::optional<int32_t> limit)
{
    std::string t = text(textBytes);
    std::string s = text(separatorBytes);
    std::vector<std::string> parts;
    if (limit && *limit < 0)
        limit = 0;
    if (t.empty() || (limit && *limit == 0))
        return parts;
    if (s.empty())
        return { t };
    size_t partStart = 0;
    size_t p = 0;
    while (t.size() - p >= s.size()) {
        if (t.substr(p, s.size()) == s) {
            parts.push_back(t.substr(partStart, p - partStart));
            p += s.size();
            partStart = p;
            if (limit && static_cast<int64_t>(parts.size()) == *limit)
                return parts;
            continue;
        }
        if (!step(t, p))
            break;
    }
    if (partStart < t.size())
        parts.push_back(t.substr(partStart));
    return parts;
}

// The word library: entries between CR LF CR LF, each a keyword line and a reply line.
inline void wordLibrary(const std::string& libraryBytes, std::vector<std::string>& keys, std::vector<std::string>& replies)
{
    for (const std::string& entry : split(libraryBytes, "\r\n\r\n", std::nullopt)) {
        std::vector<std::string> lines = split(entry, "\r\n", 2);
        if (lines.size() != 2)
            continue;
        keys.push_back(lines[0]);
        replies.push_back(lines[1]);
    }
}

} // namespace reference
