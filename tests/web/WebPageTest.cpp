// The page's policy allows exactly the inlined style and script: their SHA-256 over the whole
// content of their elements (checked against hashes computed elsewhere).
#include "web/WebPage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    WebPage page = buildRoomPage(19731);
    EXPECT_EQ(page.html.find(kStylePlaceholder), std::string::npos);
    EXPECT_EQ(page.html.find(kScriptPlaceholder), std::string::npos);
    EXPECT_EQ(page.html.find(kAddressesPlaceholder), std::string::npos);
}

// The addresses stand outside the hashed elements: the policy is the same whatever they are.
TEST(WebPage, TheAddressesGoIntoTheTemplateOutsideTheHashedScript)
{
    constexpr std::string_view htmlTemplate = "<meta content=\"/*ROOM_ADDRESSES*/\"><script>/*CHAT_JS*/</script>";
    const std::vector<std::string> addresses = { "http://10.0.0.5:8080/", "http://192.168.1.20:8080/" };
    WebPage page = buildWebPage(htmlTemplate, "", "run();", addresses);
    EXPECT_EQ(page.html, "<meta content=\"http://10.0.0.5:8080/ http://192.168.1.20:8080/\"><script>run();</script>");
    EXPECT_EQ(page.contentSecurityPolicy, buildWebPage(htmlTemplate, "", "run();").contentSecurityPolicy);
}

TEST(WebPage, RoomAddressesAreTheNonLoopbackOnesOrElseTheLoopbackOnes)
{
    struct Case {
        const char* what;
        std::vector<InterfaceAddress> found;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        { "loopback left out, interface order kept", { { "127.0.0.1", true }, { "192.168.1.20", false }, { "10.0.0.5", false } },
            { "http://192.168.1.20:19731/", "http://10.0.0.5:19731/" } },
        { "only loopback: this machine alone", { { "127.0.0.1", true } }, { "http://127.0.0.1:19731/" } },
        { "nothing at all", {}, {} },
    };
    for (const Case& c : cases)
        EXPECT_EQ(roomAddresses(c.found, 19731), c.expected) << c.what;

    std::vector<InterfaceAddress> many(12, InterfaceAddress { "10.1.1.1", false });
    EXPECT_EQ(roomAddresses(many, 80).size(), 10u) << "at most ten, as the banner considers";
}

} // namespace
