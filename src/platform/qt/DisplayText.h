// The one boundary where the system's code page 936 texts become Qt's Unicode strings for
// display; CR LF line ends become the LF that Qt's widgets break lines at.
#pragma once

#include <QString>

#include <string_view>

QString displayText(std::string_view text);
