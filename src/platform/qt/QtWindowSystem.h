// The program frame's window system on Qt Widgets: the application object, close requests by
// signal (watched with the window thread's readiness watchers), and the message box. The
// program's entry point makes one with the watchers it also hands to the console, when there
// is a display; without one it makes the headless backend's instead, and comes here (on Qt's
// offscreen platform) only when that cannot start.
#pragma once

#include "net/ReadinessWatcher.h"
#include "runtime/WindowSystem.h"

#include <memory>

class CloseSignals;
class QApplication;

class QtWindowSystem final : public WindowSystem {
public:
    explicit QtWindowSystem(ReadinessWatcherFactory& watchers);
    ~QtWindowSystem() override;
    QtWindowSystem(const QtWindowSystem&) = delete;
    QtWindowSystem& operator=(const QtWindowSystem&) = delete;

    void start(int argc, char** argv) override;
    void runMessageLoop() override;
    void quitMessageLoop() override;
    void stop() override;
    bool isHeadless() const override;
    MessageBoxResult showMessageBox(std::string_view text, std::string_view caption, const MessageBoxStyle& style) override;

private:
    ReadinessWatcherFactory& m_watchers;
    // QApplication keeps a reference to argc: it must outlive the application.
    int m_argc = 0;
    std::unique_ptr<QApplication> m_application;
    std::unique_ptr<CloseSignals> m_closeSignals;
};
