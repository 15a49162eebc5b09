// CP936 texts shown by Qt (see DisplayText.h).
#include "platform/qt/DisplayText.h"

#include "runtime/Cp936.h"

QString displayText(std::string_view text)
{
    return QString::fromStdString(cp936ToUtf8Lines(text));
}
