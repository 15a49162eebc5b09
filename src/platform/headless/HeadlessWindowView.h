// The console window when nobody can see it: the window's models (roster, marker store,
// banner) are its whole state, so there is nothing to draw or to follow. The pop-up menu
// closes at once with no choice, as an administrator who cannot see it chooses nothing; the
// administrator acts through the control socket instead.
#pragma once

#include "console/WindowView.h"

#include <memory>

class HeadlessLoop;

class HeadlessWindowView final : public WindowView {
public:
    explicit HeadlessWindowView(HeadlessLoop& loop);

    void addEditBox(const UnitDescription&, EditBoxModel&) override { }
    void addListBox(const UnitDescription&, ListBoxModel&) override { }
    void show() override { }
    void hide() override { }
    std::optional<int> popupMenu(std::span<const PopupItem>, std::optional<int>, std::optional<int>) override { return std::nullopt; }
    void dismissModal() override { }
    // Calls put off by a view that has gone are dropped when they fall due.
    void callLater(int delayMs, std::function<void()> call) override;
    // Nobody sits at a headless machine's screen to read a browser.
    bool openUrl(std::string_view) override { return false; }

private:
    HeadlessLoop& m_loop;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
