// The robot's word library, answers and votes (see Robot.h).
#include "app/Robot.h"

#include "app/ClientTexts.h"
#include "app/ServiceState.h"
#include "runtime/Files.h"
#include "store/ValueStore.h"

#include <chrono>

namespace {

// What one kind of vote says and does; the close and the open vote differ only in these.
struct VoteTexts {
    std::string_view command;
    std::string_view alreadyVoted;
    std::string_view twoMoreNeeded;
    std::string_view oneMoreNeeded;
    std::string_view decided;
    int32_t robotEnabledAfter;
};

constexpr VoteTexts kCloseVote {
    .command = "@关闭",
    .alreadyVoted = "每个用户只能输入@关闭一次！",
    .twoMoreNeeded = "还需要2个人才能关闭我哦！",
    .oneMoreNeeded = "还需要1个人才能关闭我哦！",
    .decided = "机器人已关闭，开启机器人请发送@开启",
    .robotEnabledAfter = 0,
};

constexpr VoteTexts kOpenVote {
    .command = "@开启",
    .alreadyVoted = "每个用户只能输入@开启一次！",
    .twoMoreNeeded = "还需要2个人才能开启我哦！",
    .oneMoreNeeded = "还需要1个人才能开启我哦！",
    .decided = "哼哼！刚刚居然把我关进小黑屋。看我不打死你！",
    .robotEnabledAfter = 1,
};

// Votes run on the window thread, where a store that another program holds locked (a second
// server mid-write, an sqlite3 shell inside a transaction) must not stall the room. A vote
// waits for the lock once, when its transaction begins (reads never wait on the store's WAL
// file), and gives up after this; two servers' own writes take a few milliseconds.
constexpr std::chrono::milliseconds kVoteStoreWait { 100 };

// Counts the store's failures during one vote, and hands them to the service's report when
// the vote is done.
class StoreFailuresDuringVote {
public:
    explicit StoreFailuresDuringVote(const ValueStore& store)
        : m_store(store)
        , m_before(store.failureCount())
    {
    }
    ~StoreFailuresDuringVote()
    {
        if (uint64_t failures = count(); failures > 0)
            service().storeFailures.note(failures);
    }
    StoreFailuresDuringVote(const StoreFailuresDuringVote&) = delete;
    StoreFailuresDuringVote& operator=(const StoreFailuresDuringVote&) = delete;

    bool any() const { return count() > 0; }

private:
    uint64_t count() const { return m_store.failureCount() - m_before; }

    const ValueStore& m_store;
    uint64_t m_before;
};

// A count at three decides the poll. A count past three can only be left by an earlier poll
// whose removal failed; it decides like three, so that such a poll ends instead of growing for
// ever.
bool decidesPoll(std::string_view count)
{
    return compareText(count, "3") == 0 || toNumber(count) > 3;
}

// One vote by the client of the event being handled. A vote is recorded whole or not at all,
// and only a recorded vote is announced: when the store fails anywhere along the way (even a
// read, which would otherwise look like a missing value), the room hears nothing and the
// failure goes to the report on standard error.
void castVote(const VoteTexts& vote)
{
    ServiceState& state = service();
    ValueStore& store = state.valueStore;
    store.setWaitLimit(kVoteStoreWait);
    StoreFailuresDuringVote failures(store);
    Text voterPath = concatText(kVoteKey, "\\", state.eventClient);
    bool alreadyVoted = store.valueExists(kRootCurrentUser, voterPath);
    if (failures.any())
        return;
    if (alreadyVoted) {
        announceToRoom(kRobot, vote.alreadyVoted);
        return;
    }
    // The voter's mark, the count and (when this vote decides) the poll's removal go in as one
    // transaction: a server killed in between must not leave a voter whose vote was never
    // counted, and a second server must not count between this one's read and write.
    Text count;
    bool recorded = store.inTransaction([&] {
        if (!store.writeValue(kRootCurrentUser, voterPath, std::string_view("1")))
            return false;
        count = store.valueExists(kRootCurrentUser, kVoteCountPath)
            ? toText(toNumber(store.readText(kRootCurrentUser, kVoteCountPath)) + 1)
            : Text("1");
        if (!store.writeValue(kRootCurrentUser, kVoteCountPath, std::string_view(count)))
            return false;
        // No value of that name exists, so this removes the whole poll key. Should the key
        // not go for any other reason than a failing store, the count left behind decides
        // again at the next vote.
        if (decidesPoll(count))
            store.deleteItem(kRootCurrentUser, kVoteKey);
        return !failures.any();
    });
    if (!recorded)
        return;
    if (compareText(count, "1") == 0)
        announceToRoom(kRobot, vote.twoMoreNeeded);
    if (compareText(count, "2") == 0)
        announceToRoom(kRobot, vote.oneMoreNeeded);
    if (decidesPoll(count)) {
        state.robotEnabled = vote.robotEnabledAfter;
        announceToRoom(kRobot, vote.decided);
    }
}

} // namespace

void appendWordLibrary(std::string_view libraryText, TextArray& keys, TextArray& replies)
{
    TextArray entries = splitText(libraryText, "\r\n\r\n");
    for (int32_t i = 1; i <= entries.elementCount(); ++i) {
        TextArray lines = splitText(entries.elementAt(i), "\r\n", 2);
        if (lines.elementCount() != 2)
            continue;
        keys.appendElement(lines.elementAt(1));
        replies.appendElement(lines.elementAt(2));
    }
}

WordLibraryLoad loadWordLibrary(const Files& files, std::string_view path)
{
    ServiceState& state = service();
    FileRead file = files.readFileChecked(path, kWordLibrarySizeLimit);
    WordLibraryLoad load { .status = file.status };
    if (size_t nul = file.bytes.view().find('\0'); nul != std::string_view::npos)
        load.firstNul = nul + 1;
    Text text = toText(file.bytes);
    std::string_view read = text;
    load.empty = read.empty();
    load.lineFeedsOnly = read.find('\n') != std::string_view::npos && read.find("\r\n") == std::string_view::npos;
    int32_t before = state.replyKeys.elementCount();
    appendWordLibrary(read, state.replyKeys, state.replyTexts);
    load.entries = state.replyKeys.elementCount() - before;
    state.replyIndex = KeywordMatcher(state.replyKeys);
    return load;
}

Text matchReply(std::string_view line)
{
    ServiceState& state = service();
    // The library is only ever appended to, so an index of as many keywords is an index of
    // these; one of fewer missed an append made some other way than loadWordLibrary.
    if (state.replyIndex.keywordCount() != state.replyKeys.elementCount())
        state.replyIndex = KeywordMatcher(state.replyKeys);
    int32_t index = state.replyIndex.firstMatch(line);
    return index == 0 ? Text() : state.replyTexts.elementAt(index);
}

void robotAnswer(std::string_view line)
{
    if (service().robotEnabled != 1)
        return;
    Text reply = matchReply(line);
    if (!reply.empty())
        announceToRoom(kRobot, reply);
}

void closeVote(std::string_view line)
{
    if (service().robotEnabled == 1 && compareText(line, kCloseVote.command) == 0)
        castVote(kCloseVote);
}

void openVote(std::string_view line)
{
    if (service().robotEnabled == 0 && compareText(line, kOpenVote.command) == 0)
        castVote(kOpenVote);
}
