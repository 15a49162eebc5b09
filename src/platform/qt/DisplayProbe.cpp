// Which display the console can open (see DisplayProbe.h).
//
// X: xcb_connect does what Qt's xcb plugin does first (the display name's forms, a local or
// abstract socket for ":N", TCP for "host:N" as ssh's forwarding "localhost:10.0", and the
// authority cookie), so a display it opens is one Qt opens and one it refuses would have
// aborted the program. A bare socket connection would miss a server that refuses this user.
// Wayland: the compositor listens on a socket named by WAYLAND_DISPLAY (relative to
// XDG_RUNTIME_DIR); a connection accepted there is a compositor that runs. Either also needs
// Qt's platform plugin for it, which Debian ships apart for Wayland (qt6-wayland).
#include "platform/qt/DisplayProbe.h"

#include "platform/posix/OwnedDescriptor.h"

#include <QByteArray>
#include <QDir>
#include <QLibraryInfo>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <xcb/xcb.h>

namespace {

constexpr std::string_view kXPlatform = "xcb";
constexpr std::string_view kWaylandPlatform = "wayland";
// Qt's platform plugins are files in this folder under each plugin path, named after the
// platform (libqxcb.so, libqwayland-generic.so, libqwayland-egl.so).
constexpr const char* kPlatformPluginFolder = "/platforms";

// The environment variable that names the platform's display.
const char* displayVariableOf(std::string_view platform)
{
    return platform == kXPlatform ? "DISPLAY" : "WAYLAND_DISPLAY";
}

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

// Whether a Qt platform plugin whose file name starts with libq<platform> is installed.
bool hasPlatformPlugin(std::string_view platform)
{
    QStringList folders = QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders.append(QLibraryInfo::path(QLibraryInfo::PluginsPath));
    QString pattern = QLatin1String("libq") + QString::fromUtf8(platform.data(), static_cast<qsizetype>(platform.size())) + QLatin1String("*");
    for (const QString& folder : folders) {
        if (!QDir(folder + QLatin1String(kPlatformPluginFolder)).entryList({ pattern }, QDir::Files).isEmpty())
            return true;
    }
    return false;
}

// Nothing when the X display `name` opens, else why not.
std::optional<std::string> xDisplayProblem(const std::optional<std::string>& variableValue)
{
    if (!variableValue)
        return "DISPLAY is not set";
    const std::string& name = *variableValue;
    if (name.empty())
        return "DISPLAY is set but empty";
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(name.c_str(), &screen);
    int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    switch (error) {
    case 0:
        break;
    case XCB_CONN_CLOSED_PARSE_ERR:
        return "DISPLAY=" + name + " is not a display name";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return "the X server of the display " + name + " has no such screen";
    default:
        return "the display " + name + " cannot be opened (no X server answers there, or it refuses this user)";
    }
    if (!hasPlatformPlugin(kXPlatform))
        return "Qt's X platform plugin is not installed (Debian package qt6-qpa-plugins)";
    return std::nullopt;
}

// The compositor's socket for WAYLAND_DISPLAY=name, or why there is none to try.
std::optional<std::string> waylandSocketPath(const std::string& name, std::string& problem)
{
    if (name.starts_with('/'))
        return name;
    std::optional<std::string> runtimeDirectory = variable("XDG_RUNTIME_DIR");
    if (!runtimeDirectory || runtimeDirectory->empty()) {
        problem = "the Wayland display " + name + " cannot be found: XDG_RUNTIME_DIR is not set";
        return std::nullopt;
    }
    return *runtimeDirectory + "/" + name;
}

bool acceptsConnection(const std::string& socketPath)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    OwnedDescriptor socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return socketFd.valid() && connect(socketFd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// Nothing when the Wayland display `name` opens, else why not.
std::optional<std::string> waylandDisplayProblem(const std::optional<std::string>& variableValue)
{
    if (!variableValue)
        return "WAYLAND_DISPLAY is not set";
    const std::string& name = *variableValue;
    if (name.empty())
        return "WAYLAND_DISPLAY is set but empty";
    std::string problem;
    std::optional<std::string> path = waylandSocketPath(name, problem);
    if (!path)
        return problem;
    if (!acceptsConnection(*path))
        return "the Wayland display " + name + " cannot be opened (no compositor listens at " + *path + ")";
    if (!hasPlatformPlugin(kWaylandPlatform))
        return "the Wayland display " + name + " needs Qt's Wayland platform plugin, which is not installed (Debian package qt6-wayland)";
    return std::nullopt;
}

// Nothing when Qt's platform `platform` can open its display, else why not; also nothing for
// the platforms that name no display (a VNC server, a framebuffer), which Qt is trusted with.
std::optional<std::string> platformProblem(std::string_view platform)
{
    if (platform == kXPlatform)
        return xDisplayProblem(variable(displayVariableOf(platform)));
    if (platform.starts_with(kWaylandPlatform))
        return waylandDisplayProblem(variable(displayVariableOf(platform)));
    return std::nullopt;
}

std::string joinProblems(const std::vector<std::string>& problems)
{
    std::string joined;
    for (const std::string& problem : problems)
        joined += (joined.empty() ? "" : ", and ") + problem;
    return joined;
}

// QT_QPA_PLATFORM as the user gave it: Qt tries its entries (separated by ';') in order, so one
// that works is enough; its options (after ':') are not part of the name.
DisplayChoice chooseAmongAsked(const std::string& asked)
{
    std::vector<std::string> problems;
    for (const QString& entry : QString::fromStdString(asked).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        std::optional<std::string> problem = platformProblem(entry.section(QLatin1Char(':'), 0, 0).toStdString());
        if (!problem)
            return {};
        problems.push_back(*problem);
    }
    return { .platform = {}, .problem = joinProblems(problems) };
}

} // namespace

DisplayChoice chooseDisplay()
{
    if (std::optional<std::string> asked = variable("QT_QPA_PLATFORM"); asked && !asked->empty())
        return chooseAmongAsked(*asked);
    // Qt's own choice between the two depends on its version and the session type; when only
    // one of them opens, Qt is told to use that one.
    std::vector<std::string> problems;
    std::vector<std::string_view> opening;
    for (std::string_view platform : { kWaylandPlatform, kXPlatform }) {
        if (!variable(displayVariableOf(platform)))
            continue;
        if (std::optional<std::string> problem = platformProblem(platform))
            problems.push_back(*problem);
        else
            opening.push_back(platform);
    }
    if (opening.size() == 1)
        return { .platform = std::string(opening.front()), .problem = {} };
    if (!opening.empty())
        return {};
    return { .platform = {}, .problem = joinProblems(problems) };
}
