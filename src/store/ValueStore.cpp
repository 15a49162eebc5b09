// The value store's rules shared by every backend (see ValueStore.h): how typed values are
// written as bytes and how stored values read as text.
#include "store/ValueStore.h"

#include "runtime/Text.h"

namespace {
constexpr size_t kIntegerBytes = 4;
constexpr unsigned kBitsPerByte = 8;
constexpr uint32_t kByteMask = 0xFF;
} // namespace

std::string ValueStore::readText(int32_t root, std::string_view path, std::optional<std::string_view> defaultText)
{
    std::optional<RegistryValue> value = readValue(root, path);
    if (value && value->type == ValueType::String)
        return std::string(textBeforeNul(value->data));
    if (value && value->type == ValueType::ExpandableString)
        return expandReferences(textBeforeNul(value->data));
    return defaultText ? std::string(textBeforeNul(*defaultText)) : std::string();
}

bool ValueStore::writeValue(int32_t root, std::string_view path, std::string_view text)
{
    return storeValue(root, path, ValueType::String, stringData(text));
}

bool ValueStore::writeValue(int32_t root, std::string_view path, const char* text)
{
    return writeValue(root, path, std::string_view(text ? text : ""));
}

bool ValueStore::writeValue(int32_t root, std::string_view path, int32_t number)
{
    auto bits = static_cast<uint32_t>(number);
    char data[kIntegerBytes];
    for (size_t i = 0; i < kIntegerBytes; ++i)
        data[i] = static_cast<char>((bits >> (kBitsPerByte * i)) & kByteMask);
    return storeValue(root, path, ValueType::Integer, std::string_view(data, sizeof data));
}

bool ValueStore::writeValue(int32_t root, std::string_view path, const ByteBlock& block)
{
    return storeValue(root, path, ValueType::Binary, block.view());
}

bool ValueStore::writeExpandableText(int32_t root, std::string_view path, std::string_view text)
{
    return storeValue(root, path, ValueType::ExpandableString, stringData(text));
}
