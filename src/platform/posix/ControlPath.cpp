// The control socket's place and the checks on its directory (see ControlPath.h).
#include "platform/posix/ControlPath.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kRuntimeVariable = "XDG_RUNTIME_DIR";
constexpr const char* kSubdirectory = "/chatroom-server";
constexpr const char* kFallbackPrefix = "/tmp/chatroom-server-";
constexpr const char* kSocketName = "/control.sock";
constexpr const char* kLockName = "/control.lock";
constexpr mode_t kPrivateDirectory = 0700;
// Any permission for the group or others.
constexpr mode_t kSharedBits = 0077;
constexpr mode_t kPermissionBits = 07777;

std::string controlDirectory()
{
    // The variable counts only as an absolute path, as the base directory rules say.
    const char* runtime = std::getenv(kRuntimeVariable);
    if (runtime && runtime[0] == '/')
        return std::string(runtime) + kSubdirectory;
    return kFallbackPrefix + std::to_string(geteuid());
}

} // namespace

ControlPaths controlPaths()
{
    std::string directory = controlDirectory();
    return { directory, directory + kSocketName, directory + kLockName };
}

std::string describeControlSocket()
{
    return std::string("$") + kRuntimeVariable + kSubdirectory + kSocketName + ", or " + kFallbackPrefix + "UID" + kSocketName
        + " when " + kRuntimeVariable + " is not set;\n  here: " + controlPaths().socket;
}

bool controlDirectoryIsPrivate(const std::string& directory, std::string& reason, bool& missing)
{
    // lstat: a link planted in a shared directory such as /tmp must not be followed.
    struct stat status {};
    missing = false;
    if (lstat(directory.c_str(), &status) != 0) {
        missing = errno == ENOENT;
        reason = "cannot inspect " + directory + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(status.st_mode)) {
        reason = directory + " is a symbolic link, not a directory of this user";
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        reason = directory + " is not a directory";
        return false;
    }
    if (status.st_uid != geteuid()) {
        reason = directory + " belongs to uid " + std::to_string(status.st_uid) + ", not to this user (uid "
            + std::to_string(geteuid()) + ")";
        return false;
    }
    if ((status.st_mode & kSharedBits) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & kPermissionBits));
        reason = directory + " has mode " + mode + ", open to other users (it must have mode 0700)";
        return false;
    }
    return true;
}

bool prepareControlDirectory(const std::string& directory, std::string& reason)
{
    if (mkdir(directory.c_str(), kPrivateDirectory) != 0 && errno != EEXIST) {
        reason = "cannot create " + directory + ": " + std::strerror(errno);
        return false;
    }
    bool missing = false;
    return controlDirectoryIsPrivate(directory, reason, missing);
}
