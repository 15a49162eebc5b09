// The program's directory and the files it reads: the word library lives beside the program.
// The calls are the backend's (PosixFiles, Win32Files): the program's entry point makes its
// object and hands it down; the rules of whole-file reading are written here once.
#pragma once

#include "runtime/ByteBlock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What a whole-file read found.
enum class FileReadStatus {
    Read,
    Missing,        // no such file (also a symbolic link to nothing)
    Unreadable,     // exists, but opening or reading it failed
    NotRegularFile, // a directory, FIFO, socket or device
    TooLarge,       // holds more than the limit
};
struct FileRead {
    FileReadStatus status = FileReadStatus::Missing;
    // The whole file when status is Read; otherwise empty.
    ByteBlock bytes;
};

class Files {
public:
    virtual ~Files() = default;

    // The directory of the running executable (symbolic links resolved), without a trailing
    // separator; empty when it cannot be found.
    virtual std::string programDirectory() const = 0;
    // `directory` and `name` joined with the platform's separator.
    std::string joinPath(std::string_view directory, std::string_view name) const;
    // True when a directory entry matches the path; "*" and "?" match as in a file search, and
    // directories count.
    virtual bool fileExists(std::string_view path) const = 0;
    // Makes `directory` the current directory; false when it cannot.
    virtual bool changeDirectory(std::string_view directory) const = 0;

    // The whole file, or the empty block on any failure (a directory gives the empty block).
    ByteBlock readFile(std::string_view path) const;
    // A whole-file read that says why it failed, for a file the administrator has to be told
    // about. Only a regular file is read (a FIFO or device could block or never end), and
    // never more than `sizeLimit` bytes, so that a huge file cannot exhaust memory.
    FileRead readFileChecked(std::string_view path, uint64_t sizeLimit) const;

protected:
    // The platform's path separator.
    virtual char pathSeparator() const = 0;
    // What the backend supplies for the two reads above: the regular file at `path`, at most
    // `sizeLimit` bytes; a read that fails midway keeps what it read so far (readFile gives
    // that).
    virtual FileRead readRegularFile(std::string_view path, uint64_t sizeLimit) const = 0;
};

// The backends' way to read an open file: from the size it reported to its real end, since a
// file may grow while it is read and some report no size at all; never past the limit (the
// reported size has been checked against it). `readSome` reads at most `wanted` bytes into
// `target` and gives how many (0 at the end), or nothing when reading failed.
using ReadSome = std::function<std::optional<size_t>(char* target, size_t wanted)>;
FileRead readToEnd(uint64_t reportedSize, uint64_t sizeLimit, const ReadSome& readSome);
