// The standard message box's dialog on Qt (see QtWindowSystem.h).
#include "platform/qt/QtWindowSystem.h"

#include "platform/qt/DisplayText.h"

#include <QMessageBox>

namespace {

QMessageBox::Icon iconFor(MessageBoxIcon icon)
{
    switch (icon) {
    case MessageBoxIcon::Error: return QMessageBox::Critical;
    case MessageBoxIcon::Question: return QMessageBox::Question;
    case MessageBoxIcon::Warning: return QMessageBox::Warning;
    case MessageBoxIcon::Information: return QMessageBox::Information;
    case MessageBoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons buttonsFor(MessageBoxButtons buttons)
{
    switch (buttons) {
    case MessageBoxButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageBoxButtons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case MessageBoxButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageBoxButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MessageBoxButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    case MessageBoxButtons::Ok: break;
    }
    return QMessageBox::Ok;
}

MessageBoxResult resultFor(int button)
{
    switch (button) {
    case QMessageBox::Cancel: return MessageBoxResult::Cancel;
    case QMessageBox::Abort: return MessageBoxResult::Abort;
    case QMessageBox::Retry: return MessageBoxResult::Retry;
    case QMessageBox::Ignore: return MessageBoxResult::Ignore;
    case QMessageBox::Yes: return MessageBoxResult::Yes;
    case QMessageBox::No: return MessageBoxResult::No;
    default: return MessageBoxResult::Ok;
    }
}

} // namespace

MessageBoxResult QtWindowSystem::showMessageBox(std::string_view text, std::string_view caption, const MessageBoxStyle& style)
{
    QMessageBox box(iconFor(style.icon), displayText(caption), displayText(text), buttonsFor(style.buttons));
    box.setWindowModality(Qt::ApplicationModal);
    if (style.topmost)
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return resultFor(box.exec());
}
