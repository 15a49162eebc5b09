// The page's policy allows exactly the inlined style and script: their SHA-256 over the whole
// content of their elements (checked against hashes computed elsewhere).
#include "web/WebPage.h"

#include <gtest/gtest.h>

namespace {

TEST(WebPage, ThePolicyHashesTheInlinedElements)
{
    WebPage page = buildWebPage("<style>/*CHAT_CSS*/</style><script>\n/*CHAT_JS*/\n</script>", "body{color:red}", " let a = 1;");
    EXPECT_EQ(page.html, "<style>body{color:red}</style><script>\n let a = 1;\n</script>");
    // Python: base64.b64encode(hashlib.sha256(b"body{color:red}").digest())
    EXPECT_NE(page.contentSecurityPolicy.find("style-src 'sha256-FcQqt3aNlV7AZnGV4zkQRVeCeJOxbMPnQSx258L803E='"), std::string::npos);
    // The same of b"\n let a = 1;\n": the blanks around the placeholder belong to the script.
    EXPECT_NE(page.contentSecurityPolicy.find("script-src 'sha256-DR9ek1g0oBmazl6eVlr0ZymZ7uaF6+XdR3EnRj+8ZWg='"), std::string::npos);
    EXPECT_TRUE(page.contentSecurityPolicy.starts_with("default-src 'none'; "));
    EXPECT_NE(page.contentSecurityPolicy.find("; connect-src 'self';"), std::string::npos);
}

TEST(WebPage, TheBuiltInPageHasNoPlaceholderLeft)
{
    WebPage page = buildRoomPage();
    EXPECT_EQ(page.html.find(kStylePlaceholder), std::string::npos);
    EXPECT_EQ(page.html.find(kScriptPlaceholder), std::string::npos);
}

} // namespace
