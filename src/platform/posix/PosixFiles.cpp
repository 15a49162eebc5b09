// Program directory, current directory, file existence and whole-file reading on POSIX (see
// PosixFiles.h).
#include "platform/posix/PosixFiles.h"

#include "platform/posix/OwnedDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <glob.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

std::string PosixFiles::programDirectory() const
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    std::string full(path, static_cast<size_t>(length));
    size_t slash = full.rfind('/');
    if (slash == std::string::npos)
        return {};
    return full.substr(0, slash);
}

bool PosixFiles::fileExists(std::string_view path) const
{
    if (path.empty())
        return false;
    std::string name(path);
    if (name.find_first_of("*?") == std::string::npos) {
        struct stat info;
        return lstat(name.c_str(), &info) == 0;
    }
    // Only "*" and "?" are wildcards; brackets and backslashes are ordinary characters.
    std::string pattern;
    for (char c : name) {
        if (c == '[' || c == ']' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    glob_t found {};
    int result = glob(pattern.c_str(), GLOB_PERIOD, nullptr, &found);
    bool any = result == 0 && found.gl_pathc > 0;
    globfree(&found);
    return any;
}

// Only a regular file is opened: a FIFO or device could block or never end.
FileRead PosixFiles::readRegularFile(std::string_view path, uint64_t sizeLimit) const
{
    FileRead result;
    if (path.empty())
        return result;
    // Non-blocking, so that a FIFO or device of that name cannot hang the caller.
    OwnedDescriptor file(open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file) {
        int error = errno;
        // A socket cannot be opened at all (ENXIO): what is there is told, not the failed open.
        struct stat there;
        if (error == ENOENT || error == ENOTDIR)
            result.status = FileReadStatus::Missing;
        else if (stat(std::string(path).c_str(), &there) == 0 && !S_ISREG(there.st_mode))
            result.status = FileReadStatus::NotRegularFile;
        else
            result.status = FileReadStatus::Unreadable;
        return result;
    }
    struct stat info;
    if (fstat(file.get(), &info) != 0) {
        result.status = FileReadStatus::Unreadable;
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.status = FileReadStatus::NotRegularFile;
        return result;
    }
    auto reportedSize = static_cast<uint64_t>(info.st_size);
    if (reportedSize > sizeLimit) {
        result.status = FileReadStatus::TooLarge;
        return result;
    }
    return readToEnd(reportedSize, sizeLimit, [&file](char* target, size_t wanted) -> std::optional<size_t> {
        for (;;) {
            ssize_t got = read(file.get(), target, wanted);
            if (got >= 0)
                return static_cast<size_t>(got);
            if (errno != EINTR)
                return std::nullopt;
        }
    });
}

bool PosixFiles::changeDirectory(std::string_view directory) const
{
    return !directory.empty() && chdir(std::string(directory).c_str()) == 0;
}
