// The caps on what waits for clients (see DeliveryBudget.h).
#include "net/DeliveryBudget.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace {

// A positive number of bytes no larger than kTotalCap, or kTotalCap.
size_t totalCapFromEnvironment()
{
    const char* text = std::getenv(DeliveryBudget::kTestTotalCapVariable);
    if (!text)
        return DeliveryBudget::kTotalCap;
    size_t cap = 0;
    const char* end = text + std::strlen(text);
    auto [stop, error] = std::from_chars(text, end, cap);
    if (error != std::errc() || stop != end || cap == 0 || cap > DeliveryBudget::kTotalCap)
        return DeliveryBudget::kTotalCap;
    return cap;
}

} // namespace

DeliveryBudget::DeliveryBudget()
    : m_totalCap(totalCapFromEnvironment())
{
}
