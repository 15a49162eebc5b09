// The page's message format, version 2 (see PageFormat.h), written and read with nlohmann's
// JSON library.
#include "web/PageFormat.h"

#include "runtime/Cp936.h"
#include "web/Base64.h"
#include "web/WebSocketFrames.h"

#include <charconv>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace page_format {

namespace {

constexpr std::string_view kSessionKey = "session";
constexpr std::string_view kAfterKey = "after";

std::string dump(const json& object)
{
    // Invalid UTF-8 never reaches here (the room's texts are converted, a page's are checked),
    // but a replacement is better than an exception on the room's path.
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::span<const unsigned char> asBytes(std::string_view bytes)
{
    return { reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() };
}

} // namespace

std::string message(const OutgoingMessage& message)
{
    if (message.seq == 0)
        return dump({ { "type", "notice" }, { "text", cp936ToUtf8(message.bytes) } });
    json object { { "type", "message" }, { "seq", message.seq } };
    if (message.kind == MessageKind::Relayed) {
        object["kind"] = "relay";
        object["own"] = message.own;
        object["sender"] = message.sender;
        object["data"] = base64Encode(asBytes(message.bytes));
        if (!message.originalText.empty())
            object["text"] = message.originalText;
    } else {
        object["kind"] = "server";
        object["text"] = cp936ToUtf8(message.bytes);
    }
    if (message.replayed)
        object["history"] = true;
    return dump(object);
}

std::string welcome(const Welcome& welcome)
{
    return dump({ { "type", "welcome" }, { "session", welcome.session }, { "address", welcome.address }, { "resumed", welcome.resumed }, { "missed", welcome.missed } });
}

std::string live() { return dump({ { "type", "live" } }); }

std::string memberList(std::span<const MemberEntry> members)
{
    json list = json::array();
    for (const MemberEntry& member : members) {
        json name = member.name ? json(*member.name) : json(nullptr);
        list.push_back({ { "address", member.address }, { "name", std::move(name) }, { "web", member.web } });
    }
    return dump(list);
}

std::string members(std::string_view self, std::string_view encodedList)
{
    // The keys in the order the library writes an object's: a frame reads as one it wrote.
    constexpr std::string_view kListKey = R"({"members":)";
    constexpr std::string_view kSelfKey = R"(,"self":)";
    constexpr std::string_view kType = R"(,"type":"members"})";
    std::string encodedSelf = dump(json(self));
    std::string frame;
    frame.reserve(kListKey.size() + encodedList.size() + kSelfKey.size() + encodedSelf.size() + kType.size());
    frame.append(kListKey).append(encodedList).append(kSelfKey).append(encodedSelf).append(kType);
    return frame;
}


std::string ping() { return dump({ { "type", "ping" } }); }

PageFrame read(std::string_view utf8)
{
    json object = json::parse(utf8, nullptr, false);
    if (object.is_discarded())
        return { .closeCode = websocket::close_code::kInvalidData };
    PageFrame frame { .closeCode = websocket::close_code::kUnsupportedData };
    if (!object.is_object() || !object.contains("type") || !object["type"].is_string())
        return frame;
    const std::string& type = object["type"].get_ref<const std::string&>();
    if (type == "pong")
        return { .type = PageFrame::Type::Pong };
    auto textOf = [&](const char* key) -> const json* {
        auto found = object.find(key);
        return found != object.end() && found->is_string() ? &*found : nullptr;
    };
    if (type == "send") {
        if (const json* text = textOf("text"))
            return { .type = PageFrame::Type::Send, .text = text->get<std::string>() };
    } else if (type == "name") {
        if (const json* name = textOf("name"))
            return { .type = PageFrame::Type::Name, .text = name->get<std::string>() };
    }
    return frame;
}

ResumeQuery readResumeQuery(std::string_view target)
{
    ResumeQuery query;
    size_t mark = target.find('?');
    if (mark == std::string_view::npos)
        return query;
    std::string_view rest = target.substr(mark + 1);
    while (!rest.empty()) {
        size_t amp = rest.find('&');
        std::string_view pair = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view {} : rest.substr(amp + 1);
        size_t equals = pair.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view key = pair.substr(0, equals);
        std::string_view value = pair.substr(equals + 1);
        if (key == kSessionKey && !value.empty()) {
            query.session = std::string(value);
        } else if (key == kAfterKey) {
            uint64_t after = 0;
            auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), after);
            if (error == std::errc() && end == value.data() + value.size())
                query.after = after;
        }
    }
    return query;
}

} // namespace page_format
