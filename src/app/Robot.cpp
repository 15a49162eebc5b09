// The robot's word library, answers and votes (see Robot.h).
#include "app/Robot.h"

#include "app/ClientTexts.h"
#include "app/ServiceState.h"
#include "runtime/Files.h"
#include "runtime/ValueStore.h"

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

// One vote by the client of the event being handled. Every step reads the store afresh, so a
// failed write simply leaves a count that matches nothing and nothing is announced.
void castVote(const VoteTexts& vote)
{
    ServiceState& state = service();
    Text voterPath = concatText(kVoteKey, "\\", state.eventClient);
    if (registryValueExists(kRootCurrentUser, voterPath)) {
        announceToRoom(kRobot, vote.alreadyVoted);
        return;
    }
    // The voter's mark and the count go in together: a server killed in between must not
    // leave a voter whose vote was never counted, and a second server must not count between
    // this one's read and write.
    inRegistryTransaction([&] {
        writeRegistryValue(kRootCurrentUser, voterPath, std::string_view("1"));
        if (registryValueExists(kRootCurrentUser, kVoteCountPath)) {
            double count = toNumber(readRegistryText(kRootCurrentUser, kVoteCountPath));
            writeRegistryValue(kRootCurrentUser, kVoteCountPath, std::string_view(toText(count + 1)));
        } else {
            writeRegistryValue(kRootCurrentUser, kVoteCountPath, std::string_view("1"));
        }
        return true;
    });
    if (compareText(readRegistryText(kRootCurrentUser, kVoteCountPath), "1") == 0)
        announceToRoom(kRobot, vote.twoMoreNeeded);
    if (compareText(readRegistryText(kRootCurrentUser, kVoteCountPath), "2") == 0)
        announceToRoom(kRobot, vote.oneMoreNeeded);
    // A count past three can only be left by an earlier poll whose removal failed; it decides
    // like three, so that such a poll ends instead of growing for ever.
    Text count = readRegistryText(kRootCurrentUser, kVoteCountPath);
    if (compareText(count, "3") == 0 || toNumber(count) > 3) {
        state.robotEnabled = vote.robotEnabledAfter;
        announceToRoom(kRobot, vote.decided);
        // No value of that name exists, so this removes the whole poll key.
        deleteRegistryItem(kRootCurrentUser, kVoteKey);
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

void loadWordLibrary(std::string_view path)
{
    ServiceState& state = service();
    appendWordLibrary(toText(readFile(path)), state.replyKeys, state.replyTexts);
}

Text matchReply(std::string_view line)
{
    const ServiceState& state = service();
    for (int32_t i = 1; i <= state.replyKeys.elementCount(); ++i) {
        if (findText(line, state.replyKeys.elementAt(i)) != -1)
            return state.replyTexts.elementAt(i);
    }
    return Text();
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
