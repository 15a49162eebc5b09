// The page and its policy (see WebPage.h).
#include "web/WebPage.h"

#include "web/Base64.h"
#include "web/Digest.h"
#include "web/PageSources.h"

namespace {

constexpr std::string_view kStyleEnd = "</style";
constexpr std::string_view kScriptEnd = "</script";
// As many as the console's banner considers.
constexpr size_t kMaxRoomAddresses = 10;
constexpr std::string_view kAddressSeparator = " ";

// Replaces the placeholder with `content` and returns the element's whole content after it:
// from the end of the opening tag before the placeholder to the closing tag after it. Empty
// when the template has no such placeholder.
std::string inlineInto(std::string& html, std::string_view placeholder, std::string_view content, std::string_view closingTag)
{
    size_t at = html.find(placeholder);
    if (at == std::string::npos)
        return {};
    html.replace(at, placeholder.size(), content);
    size_t openEnd = html.rfind('>', at);
    size_t begin = openEnd == std::string::npos ? at : openEnd + 1;
    size_t end = html.find(closingTag, at + content.size());
    if (end == std::string::npos)
        end = at + content.size();
    return html.substr(begin, end - begin);
}

std::string hashSource(std::string_view elementContent)
{
    Sha256Digest digest = sha256(elementContent);
    return "'sha256-" + base64Encode(digest) + "'";
}

} // namespace

WebPage buildWebPage(std::string_view htmlTemplate, std::string_view style, std::string_view script, std::span<const std::string> addresses)
{
    WebPage page;
    page.html = htmlTemplate;
    // Dotted-decimal addresses and a port in a URL: nothing in them needs escaping in HTML.
    std::string addressList;
    for (const std::string& address : addresses)
        addressList.append(addressList.empty() ? "" : kAddressSeparator).append(address);
    if (size_t at = page.html.find(kAddressesPlaceholder); at != std::string::npos)
        page.html.replace(at, kAddressesPlaceholder.size(), addressList);
    std::string styleElement = inlineInto(page.html, kStylePlaceholder, style, kStyleEnd);
    std::string scriptElement = inlineInto(page.html, kScriptPlaceholder, script, kScriptEnd);
    page.contentSecurityPolicy = "default-src 'none'; script-src " + hashSource(scriptElement) + "; style-src " + hashSource(styleElement)
        + "; connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
    return page;
}

std::vector<std::string> roomAddresses(const std::vector<InterfaceAddress>& found, uint16_t port)
{
    bool anyOther = false;
    for (const InterfaceAddress& address : found)
        anyOther = anyOther || !address.loopback;
    std::vector<std::string> addresses;
    for (const InterfaceAddress& address : found) {
        if (address.loopback == anyOther || addresses.size() == kMaxRoomAddresses)
            continue;
        addresses.push_back("http://" + address.text + ":" + std::to_string(port) + "/");
    }
    return addresses;
}

WebPage buildRoomPage(uint16_t port)
{
    return buildWebPage(pageTemplateSource(), pageStyleSource(), pageScriptSource(), roomAddresses(listInterfaceAddresses(), port));
}
