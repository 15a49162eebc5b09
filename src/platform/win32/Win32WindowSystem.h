// The program frame's window system on Win32: COM (OLE) for the process, the thread's message
// loop, and the message box. The Windows entry point makes one.
#pragma once

#include "runtime/WindowSystem.h"

class Win32WindowSystem final : public WindowSystem {
public:
    Win32WindowSystem() = default;
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    void start(int argc, char** argv) override;
    void runMessageLoop() override;
    void quitMessageLoop() override;
    void stop() override;
    // A Windows desktop always has a display to show a message box on.
    bool isHeadless() const override { return false; }
    MessageBoxResult showMessageBox(std::string_view text, std::string_view caption, const MessageBoxStyle& style) override;

private:
    bool m_oleStarted = false;
};
