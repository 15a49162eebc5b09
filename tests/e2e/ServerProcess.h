// The built chatroom-server, run the way its clients meet it: a copy of the executable in a
// fresh program directory (with a given word library beside it, or none), XDG_CONFIG_HOME
// and XDG_RUNTIME_DIR (where the room's control socket goes) pointing at directories the test
// owns, no display, standard error captured to a file.
// Closing it is what a desktop session would do: SIGTERM, the close request.
//
// When the environment names the Windows program (WineTarget.h), that one runs instead, under
// Wine in the prefix's virtual display: the program directory gets chatroom-server.exe, the
// close request is `taskkill /IM chatroom-server.exe` (WM_CLOSE to its windows, as the close
// button sends), and its value store is the prefix's registry. That store is cleared whenever
// a start comes with another configuration home than the start before, so that a fresh
// configuration home means a fresh store there too and a restart with the same one keeps it.
#pragma once

#include "support/TempDirectory.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>
#include <sys/resource.h>
#include <sys/types.h>

class ServerProcess {
public:
    static constexpr uint16_t kPort = 19730;
    // Browsers' port, which the program opens by default right after the room's.
    static constexpr uint16_t kWebPort = 19731;
    // The status of a program that found its port taken.
    static constexpr int kCannotListenStatus = 1;

    // `replyIni`: the bytes of the word library put beside the program, or none at all.
    // `configHome` must outlive the object; a later ServerProcess given the same directory
    // finds the vote polls this one left.
    ServerProcess(const std::optional<std::string>& replyIni, std::string configHome);
    // Stops a server that is still running, killing it if it does not end in time.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Spawns the program and returns once it listens on 127.0.0.1:19730. Throws, with what
    // the program wrote to standard error, when the port stays busy or the program does not
    // come up in time.
    void start();
    // Spawns the program and returns at once, for a start that is meant to fail: the status
    // comes from waitForExit.
    void launch() { spawn(); }
    // Sends SIGTERM; under Wine, has taskkill send WM_CLOSE, again until a window took it.
    void requestClose();
    // Sends SIGKILL, as a crash or an impatient session would, and returns the status
    // (128 + SIGKILL) once the program is gone.
    int killAbruptly();
    // Waits (bounded) for the program to end and returns its exit status, or 128 + the signal
    // that ended it; kills it with SIGKILL when it does not end in time.
    int waitForExit();
    int stop()
    {
        requestClose();
        return waitForExit();
    }

    bool isRunning() const { return m_pid > 0; }
    // The running program's process id, for reading its state in /proc; -1 when not running.
    pid_t pid() const { return m_pid; }

    // For the starts that follow: the program's limit on open descriptors, soft and hard alike.
    void setDescriptorLimit(rlim_t limit) { m_descriptorLimit = limit; }
    // For the starts that follow: the program's arguments, and the web port that start()
    // waits for besides the room's (nothing: none).
    void setArguments(std::vector<std::string> arguments, std::optional<uint16_t> webPort)
    {
        m_arguments = std::move(arguments);
        m_webPort = webPort;
    }
    // For the starts that follow: a variable of the program's environment, in place of the
    // test's own (or of the configuration home given above).
    void setEnvironmentVariable(const std::string& name, const std::string& value) { m_extraEnvironment[name] = value; }
    // Where the program and its word library are.
    const std::string& programDirectory() const { return m_programDirectory.path(); }
    // Everything the program has written to standard error so far, as it wrote it (under
    // Wine, with Wine's trace of the message boxes).
    std::string standardError() const;
    // Everything the program has written to standard output so far.
    std::string standardOutput() const;
    // Whether the program has shown the administrator a message box with `caption` and `text`
    // (UTF-8). Headless on Linux, a box is the line "caption text" on standard error; under Wine
    // it is a real box, found in Wine's trace, which holds the text and not the caption.
    bool toldAdministrator(std::string_view caption, std::string_view text) const;

    // The program's copy, for running it as a command beside the room.
    const std::string& executable() const { return m_executable; }
    // The room's runtime directory: its own fresh one, or the one a test gave it through
    // setEnvironmentVariable("XDG_RUNTIME_DIR", ...).
    std::string runtimeDirectory() const;

private:
    void spawn();
    // False when another process took the port first.
    bool spawnAndAwaitListening();
    // Whether one of `listeners` is this program's: its own socket, or under Wine one that the
    // prefix's Wine server holds for it.
    bool holdsListener(const std::set<unsigned long>& listeners) const;
    bool hasEnded() const;

    test_support::TempDirectory m_programDirectory { "chatroom-e2e-program" };
    test_support::TempDirectory m_runtimeDirectory { "chatroom-e2e-runtime" };
    std::string m_configHome;
    std::string m_executable;
    std::string m_stderrPath;
    std::string m_stdoutPath;
    pid_t m_pid = -1;
    std::optional<rlim_t> m_descriptorLimit;
    std::vector<std::string> m_arguments;
    std::optional<uint16_t> m_webPort = kWebPort;
    std::map<std::string, std::string> m_extraEnvironment;
};
