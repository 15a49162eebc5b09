// The standard message box on Qt (see MessageBox.h).
#include "runtime/MessageBox.h"

#include "runtime/Cp936.h"
#include "runtime/ProgramFrame.h"

#include <QMessageBox>

#include <cstdio>
#include <string>

namespace {

QString toDisplay(std::string_view text)
{
    return QString::fromStdString(cp936ToUtf8Lines(text));
}

QMessageBox::Icon iconFor(uint32_t style)
{
    switch (style & 0xF0) {
    case 0x10: return QMessageBox::Critical;
    case 0x20: return QMessageBox::Question;
    case 0x30: return QMessageBox::Warning;
    case 0x40: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons buttonsFor(uint32_t style)
{
    switch (style & 0x0F) {
    case 1: return QMessageBox::Ok | QMessageBox::Cancel;
    case 2: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case 3: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case 4: return QMessageBox::Yes | QMessageBox::No;
    case 5: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

// The platform's button numbers less one: OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4, Yes 5, No 6.
int32_t resultFor(int button)
{
    switch (button) {
    case QMessageBox::Cancel: return 1;
    case QMessageBox::Abort: return 2;
    case QMessageBox::Retry: return 3;
    case QMessageBox::Ignore: return 4;
    case QMessageBox::Yes: return 5;
    case QMessageBox::No: return 6;
    default: return 0;
    }
}

} // namespace

int32_t messageBox(std::string_view text, uint32_t style, std::optional<std::string_view> caption)
{
    std::string title(caption ? *caption : std::string_view("信息："));
    if (isHeadless()) {
        std::string line = cp936ToUtf8(title) + " " + cp936ToUtf8Lines(text);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
        return 0;
    }
    QMessageBox box(iconFor(style), toDisplay(title), toDisplay(text), buttonsFor(style));
    box.setWindowModality(Qt::ApplicationModal);
    if (style & 0x1000)
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return resultFor(box.exec());
}
