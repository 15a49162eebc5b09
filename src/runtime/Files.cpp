// The files rules on top of the backend's calls: joining a path, and whole-file reading (a
// file whose size changes under the reader, the size limit, what a failed read keeps).
#include "runtime/Files.h"

#include <limits>

namespace {

// What one read past the reported size takes at a time.
constexpr size_t kBeyondSizeChunk = 64 * 1024;

} // namespace

std::string Files::joinPath(std::string_view directory, std::string_view name) const
{
    std::string joined(directory);
    joined += pathSeparator();
    joined += name;
    return joined;
}

ByteBlock Files::readFile(std::string_view path) const
{
    return readRegularFile(path, std::numeric_limits<uint64_t>::max()).bytes;
}

FileRead Files::readFileChecked(std::string_view path, uint64_t sizeLimit) const
{
    FileRead result = readRegularFile(path, sizeLimit);
    if (result.status != FileReadStatus::Read)
        result.bytes = {};
    return result;
}

FileRead readToEnd(uint64_t reportedSize, uint64_t sizeLimit, const ReadSome& readSome)
{
    FileRead result;
    std::string& bytes = result.bytes.bytes;
    bytes.resize(static_cast<size_t>(reportedSize));
    size_t total = 0;
    char chunk[kBeyondSizeChunk];
    for (;;) {
        bool withinReportedSize = total < bytes.size();
        char* target = withinReportedSize ? bytes.data() + total : chunk;
        size_t wanted = withinReportedSize ? bytes.size() - total : sizeof chunk;
        std::optional<size_t> got = readSome(target, wanted);
        if (!got) {
            bytes.resize(total);
            result.status = FileReadStatus::Unreadable;
            return result;
        }
        if (*got == 0)
            break;
        if (!withinReportedSize) {
            if (*got > sizeLimit - total) {
                bytes.clear();
                result.status = FileReadStatus::TooLarge;
                return result;
            }
            bytes.append(chunk, *got);
        }
        total += *got;
    }
    bytes.resize(total);
    result.status = FileReadStatus::Read;
    return result;
}
