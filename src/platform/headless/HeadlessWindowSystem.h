// The window system of a program that nobody sees (no display, the user service, the
// benchmark): no toolkit is started; the loop waits on the epoll set that every socket is
// watched through, and runs the handlers of the ready sockets straight from there. Close
// requests come by signal; message boxes print (see runtime/MessageBox.cpp). The program's
// entry point makes one on the epoll set it also hands to the console.
#pragma once

#include "platform/headless/HeadlessLoop.h"
#include "platform/posix/CloseSignals.h"
#include "runtime/WindowSystem.h"

#include <memory>

class HeadlessWindowSystem final : public WindowSystem {
public:
    explicit HeadlessWindowSystem(EpollWatchers& watchers);
    HeadlessWindowSystem(const HeadlessWindowSystem&) = delete;
    HeadlessWindowSystem& operator=(const HeadlessWindowSystem&) = delete;

    void start(int argc, char** argv) override;
    void runMessageLoop() override { m_loop.run(); }
    void quitMessageLoop() override { m_loop.quit(); }
    void stop() override { m_closeSignals.reset(); }
    bool isHeadless() const override { return true; }
    // Never asked for: headless, the frame prints the message instead.
    MessageBoxResult showMessageBox(std::string_view, std::string_view, const MessageBoxStyle&) override { return MessageBoxResult::Ok; }

    // The loop, for the console window's delayed calls.
    HeadlessLoop& loop() { return m_loop; }

private:
    EpollWatchers& m_watchers;
    HeadlessLoop m_loop;
    std::unique_ptr<CloseSignals> m_closeSignals;
};

// Whether the program runs headless: no display to open (neither DISPLAY nor WAYLAND_DISPLAY),
// or Qt's offscreen or minimal platform asked for by name (QT_QPA_PLATFORM), which is how the
// user service and the tests ask for a room without a window.
bool runsHeadless();
