// Reading the server's state from /proc (see ProcessProbe.h).
#include "ProcessProbe.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

std::string procPath(pid_t pid, const char* entry)
{
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::string lineStartingWith(pid_t pid, const char* entry, const std::string& prefix)
{
    std::ifstream in(procPath(pid, entry));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0)
            return line.substr(prefix.size());
    }
    throw std::runtime_error("no \"" + prefix + "\" in " + procPath(pid, entry));
}

} // namespace

size_t openDescriptorCount(pid_t pid)
{
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(procPath(pid, "fd")))
        ++count;
    return count;
}

std::string describeDescriptors(pid_t pid)
{
    std::string lines;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(procPath(pid, "fd"), error)) {
        std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        lines += entry.path().filename().string() + " -> " + target + "\n";
    }
    return lines;
}

size_t residentKiB(pid_t pid)
{
    return std::stoul(lineStartingWith(pid, "status", "VmRSS:"));
}

double cpuSeconds(pid_t pid)
{
    std::ifstream in(procPath(pid, "stat"));
    std::string stat;
    std::getline(in, stat);
    // The command name may hold spaces and parentheses; the fields after it are plain.
    size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        throw std::runtime_error("cannot read " + procPath(pid, "stat"));
    std::istringstream fields(stat.substr(nameEnd + 2));
    // From field 3 (state) on: utime and stime are fields 14 and 15.
    std::string skipped;
    for (int field = 3; field < 14; ++field)
        fields >> skipped;
    unsigned long long userTicks = 0, systemTicks = 0;
    fields >> userTicks >> systemTicks;
    if (!fields)
        throw std::runtime_error("cannot read the CPU time in " + procPath(pid, "stat"));
    return double(userTicks + systemTicks) / double(sysconf(_SC_CLK_TCK));
}

size_t descriptorLimit(pid_t pid)
{
    std::istringstream fields(lineStartingWith(pid, "limits", "Max open files"));
    size_t soft = 0;
    fields >> soft;
    return soft;
}
