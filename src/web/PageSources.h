// The web page's files as the build embedded them (src/web/page): the HTML with its two
// placeholders, the style sheet and the script.
#pragma once

#include <cstddef>
#include <string_view>

std::string_view pageTemplateSource();
std::string_view pageStyleSource();
std::string_view pageScriptSource();
