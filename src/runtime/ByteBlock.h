// ByteBlock: a length and that many bytes, without a terminator of its own. Received data
// and file contents travel as byte blocks; an empty block also stands for the absent one.
// It is a type of its own (not a Text) because a NUL inside it is data, not an end.
#pragma once

#include <string>
#include <string_view>

struct ByteBlock {
    std::string bytes;

    ByteBlock() = default;
    explicit ByteBlock(std::string content)
        : bytes(std::move(content))
    {
    }
    explicit ByteBlock(std::string_view content)
        : bytes(content)
    {
    }

    size_t size() const { return bytes.size(); }
    bool empty() const { return bytes.empty(); }
    const char* data() const { return bytes.data(); }
    std::string_view view() const { return bytes; }
    bool operator==(const ByteBlock&) const = default;
};
