// The console window as its form describes it, read back from the real window on each window
// system's driver (Qt on Linux, Win32 on Windows): its caption, outer size and centred place,
// the units of its form, the roster and the banner at their stored places, the marker store
// that is never shown, the roster's entries following its model, and a member's name drawn
// beside its entry, whose text stays the address. What only one window
// system has (title bar flags, control styles, pictures) is tested in that system's own file.
#include "console/ConsoleDrivers.h"
#include "runtime/Cp936.h"

#include <string>
#include <vector>

namespace {

using namespace console_test;

// Between an entry's text and the name drawn after it, at least, in pixels.
constexpr int kLeastNameGap = 6;

// The window's stored outer size, frame included.
constexpr int kOuterWidth = 225;
constexpr int kOuterHeight = 240;

template<class Driver>
using ConsoleLayout = LoadedConsole<Driver>;
TYPED_TEST_SUITE(ConsoleLayout, ConsoleDrivers, ConsoleDriverName);

TYPED_TEST(ConsoleLayout, CaptionAndOuterSize)
{
    EXPECT_EQ(TypeParam::caption(), cp936ToUtf8("聊天室服务器"));
    EXPECT_TRUE(TypeParam::windowShown());
    const ScreenRect outer = TypeParam::outerPlace();
    EXPECT_EQ(outer.width, kOuterWidth);
    EXPECT_EQ(outer.height, kOuterHeight);
}

TYPED_TEST(ConsoleLayout, OpensCentredOnTheWorkArea)
{
    const ScreenRect area = TypeParam::workArea();
    const ScreenRect outer = TypeParam::outerPlace();
    EXPECT_EQ(outer.x, area.x + (area.width - kOuterWidth) / 2);
    EXPECT_EQ(outer.y, area.y + (area.height - kOuterHeight) / 2);
}

TYPED_TEST(ConsoleLayout, EveryUnitOfTheFormExists)
{
    struct Unit {
        const char* name;
        uint32_t unitId;
        uint32_t typeCode;
    };
    const std::vector<Unit> units = {
        { "the window", kConsoleWindowUnitId, kTypeWindow },
        { "编辑框2", 编辑框2.unitId, kTypeEditBox },
        { "编辑框1", 编辑框1.unitId, kTypeEditBox },
        { "管理", 管理.unitId, kTypeMenuItem },
        { "踢出", 踢出.unitId, kTypeMenuItem },
        { "抖动", 抖动.unitId, kTypeMenuItem },
        { "地震", 地震.unitId, kTypeMenuItem },
        { "奖励", 奖励.unitId, kTypeMenuItem },
        { "禁言", 禁言.unitId, kTypeMenuItem },
        { "恶搞", 恶搞.unitId, kTypeMenuItem },
        { "服务器1", 服务器1.unitId, kTypeServer },
        { "列表框1", 列表框1.unitId, kTypeListBox },
    };
    for (const Unit& unit : units) {
        SCOPED_TRACE(unit.name);
        const UnitDescription* found = this->m_console->findUnit(unit.unitId);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->typeCode, unit.typeCode);
    }
    EXPECT_EQ(this->m_console->findUnit(0x1601FFFF), nullptr);
    // The constant references name the units the form has, with the right kinds.
    EXPECT_EQ(this->m_console->findUnit(列表框1.unitId)->typeCode, 列表框1.typeCode);
    EXPECT_EQ(this->m_console->findUnit(服务器1.unitId)->typeCode, 服务器1.typeCode);
}

TYPED_TEST(ConsoleLayout, RosterIsShownEmptyAtItsStoredPlace)
{
    EXPECT_TRUE(TypeParam::controlShown(列表框1));
    EXPECT_EQ(TypeParam::controlPlace(列表框1), (ScreenRect { 5, 35, 210, 170 }));
    EXPECT_TRUE(TypeParam::shownEntries().empty());
    EXPECT_EQ(itemCount(列表框1), 0);
    EXPECT_EQ(currentSelection(列表框1), -1);
    EXPECT_EQ(TypeParam::shownSelection(), -1);
}

TYPED_TEST(ConsoleLayout, BannerShowsItsContentAtItsStoredPlace)
{
    EXPECT_TRUE(TypeParam::controlShown(编辑框2));
    EXPECT_EQ(TypeParam::controlPlace(编辑框2), (ScreenRect { 5, 5, 210, 25 }));
    EXPECT_EQ(content(编辑框2), "");
    EXPECT_EQ(TypeParam::bannerText(), "");
    setContent(编辑框2, "本机名称：host\r\n本机IP：127.0.0.1");
    EXPECT_EQ(TypeParam::bannerText(), cp936ToUtf8(std::string("本机名称：host") + TypeParam::kLineEnd + "本机IP：127.0.0.1"));
}

TYPED_TEST(ConsoleLayout, MarkerStoreHoldsTextButIsNeverShown)
{
    EXPECT_EQ(content(编辑框1), "");
    appendText(编辑框1, "127.0.0.1:4000=1\r\n");
    EXPECT_EQ(content(编辑框1), "127.0.0.1:4000=1\r\n");
    TypeParam::handlePending();
    for (const std::string& text : TypeParam::shownTexts())
        EXPECT_EQ(text.find("4000=1"), std::string::npos) << text;
}

TYPED_TEST(ConsoleLayout, RosterEntriesFollowTheModel)
{
    struct Step {
        const char* what;
        std::function<void()> change;
        std::vector<std::string> entries;
    };
    const std::vector<Step> steps = {
        { "three added", [] {
             addItem(列表框1, "127.0.0.1:40001");
             addItem(列表框1, "聊天室:2");
             addItem(列表框1, "127.0.0.1:40003");
         },
            { "127.0.0.1:40001", "聊天室:2", "127.0.0.1:40003" } },
        { "the middle one deleted", [] { deleteItem(列表框1, 1); }, { "127.0.0.1:40001", "127.0.0.1:40003" } },
        { "an index past the end", [] { deleteItem(列表框1, 2); }, { "127.0.0.1:40001", "127.0.0.1:40003" } },
        { "one added after deletions goes last", [] { addItem(列表框1, "127.0.0.1:40004"); },
            { "127.0.0.1:40001", "127.0.0.1:40003", "127.0.0.1:40004" } },
        { "the first one deleted", [] { deleteItem(列表框1, 0); }, { "127.0.0.1:40003", "127.0.0.1:40004" } },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        ASSERT_EQ(itemCount(列表框1), static_cast<int32_t>(step.entries.size()));
        std::vector<std::string> shown;
        for (int32_t index = 0; index < itemCount(列表框1); ++index) {
            EXPECT_EQ(itemText(列表框1, index), step.entries[static_cast<size_t>(index)]);
            shown.push_back(cp936ToUtf8(step.entries[static_cast<size_t>(index)]));
        }
        EXPECT_EQ(TypeParam::shownEntries(), shown);
    }
    EXPECT_EQ(currentSelection(列表框1), -1);
    EXPECT_EQ(TypeParam::shownSelection(), -1);
}

TYPED_TEST(ConsoleLayout, NameIsDrawnBesideItsEntryWhoseTextStaysTheAddress)
{
    const std::vector<std::string> addresses = { "127.0.0.1:40001", "127.0.0.1:40002", "127.0.0.1:40003" };
    for (const std::string& address : addresses)
        addItem(列表框1, address);
    TypeParam::handlePending();
    const int bare = TypeParam::inkExtent(1);
    ASSERT_GT(bare, 0) << "the address is not drawn";

    ASSERT_TRUE(setItemDecoration(列表框1, 1, "小明"));
    TypeParam::handlePending();
    EXPECT_EQ(itemText(列表框1, 1), addresses[1]);
    EXPECT_EQ(TypeParam::shownEntries(), (std::vector<std::string> { addresses.begin(), addresses.end() }));
    EXPECT_GT(TypeParam::inkExtent(1), bare + kLeastNameGap);
    EXPECT_LT(TypeParam::inkExtent(2), bare + kLeastNameGap);

    // The name moves up with its entry; the entry that takes its old place has none.
    deleteItem(列表框1, 0);
    TypeParam::handlePending();
    EXPECT_EQ(itemDecoration(列表框1, 0), "小明");
    EXPECT_EQ(TypeParam::shownEntries(), (std::vector<std::string> { addresses[1], addresses[2] }));
    EXPECT_GT(TypeParam::inkExtent(0), bare + kLeastNameGap);
    EXPECT_LT(TypeParam::inkExtent(1), bare + kLeastNameGap);

    ASSERT_TRUE(setItemDecoration(列表框1, 0, ""));
    TypeParam::handlePending();
    EXPECT_LT(TypeParam::inkExtent(0), bare + kLeastNameGap);
}

} // namespace
