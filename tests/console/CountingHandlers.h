// A handler table of the tests' own, in place of the service's: each handler counts its runs
// and notes the order, and a test can give any handler something more to do (the roster's
// handler, for instance, pops up the administrator menu as the service's does).
#pragma once

#include "console/HandlerTable.h"

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

} // namespace console_test
