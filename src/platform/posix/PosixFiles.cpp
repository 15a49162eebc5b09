// Program directory, current directory, file existence and whole-file reading on POSIX.
#include "runtime/Files.h"

#include <fcntl.h>
#include <glob.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

std::string programDirectory()
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

std::string joinPath(std::string_view directory, std::string_view name)
{
    std::string joined(directory);
    joined += '/';
    joined += name;
    return joined;
}

bool fileExists(std::string_view path)
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

ByteBlock readFile(std::string_view path)
{
    if (path.empty())
        return {};
    // Non-blocking, so that a FIFO or device of that name cannot hang the caller; only regular
    // files are read.
    int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    ByteBlock block;
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        block.bytes.resize(static_cast<size_t>(info.st_size));
        size_t total = 0;
        while (total < block.bytes.size()) {
            ssize_t got = read(fd, block.bytes.data() + total, block.bytes.size() - total);
            if (got <= 0)
                break;
            total += static_cast<size_t>(got);
        }
        block.bytes.resize(total);
    }
    close(fd);
    return block;
}

bool changeDirectory(std::string_view directory)
{
    return !directory.empty() && chdir(std::string(directory).c_str()) == 0;
}
