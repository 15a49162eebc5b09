// The page and its policy (see WebPage.h).
#include "web/WebPage.h"

#include "web/Base64.h"
#include "web/Digest.h"
#include "web/PageSources.h"

namespace {

constexpr std::string_view kStyleEnd = "</style";
constexpr std::string_view kScriptEnd = "</script";

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

WebPage buildWebPage(std::string_view htmlTemplate, std::string_view style, std::string_view script)
{
    WebPage page;
    page.html = htmlTemplate;
    std::string styleElement = inlineInto(page.html, kStylePlaceholder, style, kStyleEnd);
    std::string scriptElement = inlineInto(page.html, kScriptPlaceholder, script, kScriptEnd);
    page.contentSecurityPolicy = "default-src 'none'; script-src " + hashSource(scriptElement) + "; style-src " + hashSource(styleElement)
        + "; connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
    return page;
}

WebPage buildRoomPage()
{
    return buildWebPage(pageTemplateSource(), pageStyleSource(), pageScriptSource());
}
