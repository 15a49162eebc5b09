// The one boundary where the system's code page 936 texts become Qt's Unicode strings for
// display, with CR LF line ends as Qt expects them.
#pragma once

#include <QString>

#include <string_view>

QString displayText(std::string_view text);
