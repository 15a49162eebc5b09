// The robot "Velqo机器人": answers message lines from the word library reply.ini, and can be
// voted off ("@关闭") and on ("@开启") by three different client addresses, the poll being
// kept in the per-user value store so that it survives a restart.
#pragma once

#include "runtime/Files.h"
#include "runtime/Text.h"
#include "runtime/TextArray.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// Appends the entries of a word library's text: entries separated by CR LF CR LF, each a
// keyword line and a reply line; further lines are ignored, incomplete entries skipped.
void appendWordLibrary(std::string_view libraryText, TextArray& keys, TextArray& replies);
// The largest word library loaded, in MiB: far above any real library, and low enough that
// loading one (the file, its entries and their index) cannot exhaust a machine's memory.
inline constexpr uint64_t kWordLibraryLimitMiB = 32;
inline constexpr uint64_t kWordLibrarySizeLimit = kWordLibraryLimitMiB * 1024 * 1024;

// What loading the word library found, for the administrator to be told.
struct WordLibraryLoad {
    FileReadStatus status = FileReadStatus::Missing;
    // The 1-based position of the first NUL byte, where the library's text ends; 0 when the
    // file holds none.
    size_t firstNul = 0;
    // The entries it added to the library.
    int32_t entries = 0;
    // No byte at all before the first NUL (or in the whole file).
    bool empty = false;
    // Its lines end in LF alone (no CR LF anywhere), which the library's format does not know.
    bool lineFeedsOnly = false;
};
// Reads the file, appends its entries to the service's word library and indexes its keywords.
// A file that cannot be read whole (or is larger than the limit) adds nothing.
WordLibraryLoad loadWordLibrary(const Files& files, std::string_view path);

// The reply of the first keyword (in file order) that the line contains, or the empty text;
// one pass over the line through the library's index (KeywordMatcher.h).
Text matchReply(std::string_view line);

void robotAnswer(std::string_view line);
void closeVote(std::string_view line);
void openVote(std::string_view line);

// Where the poll lives in the value store.
inline constexpr std::string_view kVoteKey = "SOFTWARE\\聊天室\\机器人";
inline constexpr std::string_view kVoteCountPath = "SOFTWARE\\聊天室\\机器人\\次数";
