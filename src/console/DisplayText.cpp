// CP936 texts shown by Qt (see DisplayText.h).
#include "console/DisplayText.h"

#include "runtime/Cp936.h"

QString displayText(std::string_view text)
{
    QString shown = QString::fromStdString(cp936ToUtf8(text));
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}
