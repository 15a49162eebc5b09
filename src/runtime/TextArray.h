// TextArray: a one-dimensional array of owned texts, addressed from 1. Reading outside it is
// a fatal error of the program, as it is for every array of the service.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TextArray {
public:
    TextArray() = default;
    explicit TextArray(std::vector<std::string> items)
        : m_items(std::move(items))
    {
    }

    int32_t elementCount() const { return static_cast<int32_t>(m_items.size()); }
    // The element at the 1-based index; below 1 or beyond the end ends the program.
    const std::string& elementAt(int32_t index) const;
    void appendElement(std::string text) { m_items.push_back(std::move(text)); }

    const std::vector<std::string>& items() const { return m_items; }
    bool operator==(const TextArray&) const = default;

private:
    std::vector<std::string> m_items;
};

inline int32_t elementCount(const TextArray& array) { return array.elementCount(); }
inline const std::string& elementAt(const TextArray& array, int32_t index) { return array.elementAt(index); }
inline void appendElement(TextArray& array, std::string text) { array.appendElement(std::move(text)); }
