// A handler table of the tests' own, in place of the service's: each handler counts its runs
// and notes the order, and a test can give any handler something more to do (the roster's
// handler, for instance, pops up the administrator menu as the service's does).
#pragma once

#include "console/ControlOperations.h"
#include "console/HandlerTable.h"
#include "console/UnitReference.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <utility>
#include <vector>

namespace console_test {

struct HandlerCalls {
    std::array<int, kHandlerCount> count {};
    std::vector<int> order;
    std::array<std::function<void()>, kHandlerCount> extra;
};

inline HandlerCalls& handlerCalls()
{
    static HandlerCalls calls;
    return calls;
}

template<int Reference>
void countingHandler()
{
    HandlerCalls& calls = handlerCalls();
    ++calls.count[Reference];
    calls.order.push_back(Reference);
    if (calls.extra[Reference])
        calls.extra[Reference]();
}

template<int... References>
constexpr std::array<Handler, sizeof...(References)> makeCountingTable(std::integer_sequence<int, References...>)
{
    return { countingHandler<References>... };
}

// Forgets earlier counts and extras and puts the counting table in force.
inline void registerCountingHandlers()
{
    static constexpr auto table = makeCountingTable(std::make_integer_sequence<int, kHandlerCount> {});
    handlerCalls() = {};
    registerHandlerTable(table);
}

// The admin menu's items in menu order: caption (UTF-8) and the handler their click is bound to.
struct MenuItemCase {
    const char8_t* caption;
    int handler;
};

inline const std::vector<MenuItemCase> kMenuItems = {
    { u8"踢出", kOnKick },
    { u8"抖动", kOnShake },
    { u8"地震", kOnQuake },
    { u8"奖励", kOnReward },
    { u8"禁言", kOnMute },
    { u8"恶搞", kOnPrank },
};

// Where the menu's tests start: three entries in the roster, and the roster's handler popping
// up the administrator menu, as the service's does.
inline void fillRosterUnderTheAdminMenu()
{
    handlerCalls().extra[kOnRosterSelect] = [] { popupMenu(kConsoleWindowId, 管理); };
    for (const char* client : { "127.0.0.1:40001", "127.0.0.1:40002", "127.0.0.1:40003" })
        addItem(列表框1, client);
}

// How often any of the admin menu's handlers ran.
inline int adminHandlerRuns()
{
    int runs = 0;
    for (const MenuItemCase& item : kMenuItems)
        runs += handlerCalls().count[item.handler];
    return runs;
}

// After an item was chosen from the pop-up that a click on the roster opened: the roster's
// handler ran once, the item's handler once and no other item's, and not while the pop-up was
// still open. The same on every window system.
inline void expectChosenItemRanAlone(const MenuItemCase& item, bool popupOpenDuringHandler)
{
    EXPECT_EQ(handlerCalls().count[kOnRosterSelect], 1);
    EXPECT_EQ(handlerCalls().count[item.handler], 1);
    EXPECT_EQ(adminHandlerRuns(), 1) << "another item's handler ran";
    EXPECT_FALSE(popupOpenDuringHandler);
}

} // namespace console_test
