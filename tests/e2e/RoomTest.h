// The fixture of the end-to-end tests: one server with its own configuration home, and the
// clients a test connects to it. Teardown closes the server as a desktop session would and
// expects it to end with status 0 (which also catches what the sanitizers report).
//
// The server adds a client to the roster when it handles the accept, which may come after the
// client's connect has returned. Before anything that every client must see, a test makes
// sure the room knows them all with one of the sync steps below; neither sleeps.
#pragma once

#include "ProgramRun.h"
#include "RoomTexts.h"
#include "ServerProcess.h"
#include "support/LoopbackClient.h"
#include "support/NoticeTexts.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Every end-to-end and stress test talks through the shared client and expects the shared texts.
using namespace test_support;

class RoomTest : public ::testing::Test {
protected:
    // Relayed to check that nothing unexpected came before it; no keyword of the test library
    // is in it.
    static constexpr std::string_view kProbe = "~probe~";
    // The receive buffer of a client whose connection is to fill up soon.
    static constexpr int kSmallReceiveBuffer = 4096;

    void TearDown() override;

    void startServer(const std::optional<std::string>& replyIni = testWordLibrary());
    // Closes the server (expecting status 0; the clients are dropped) and starts a new one
    // with the same word library and the same configuration home. A server that has already
    // ended (see killServer) is only replaced.
    void restartServer();
    // Ends the server with SIGKILL and returns its status; the clients stay, to read what
    // reached them before.
    int killServer() { return m_server->killAbruptly(); }
    ServerProcess& server() { return *m_server; }
    const std::string& configHome() const { return m_configHome->path(); }
    // Where the room keeps its control socket; the same for a restarted server.
    const std::string& runtimeDirectory() const { return m_runtimeDirectory->path(); }
    // Runs `chatroom-server admin ARGUMENTS...` against this room.
    CommandResult admin(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> words { "admin" };
        words.insert(words.end(), arguments.begin(), arguments.end());
        return runProgram({ server().executable(), words, { { "XDG_RUNTIME_DIR", runtimeDirectory() } } });
    }
    // Called before every start, for a suite that runs the program in some other way.
    virtual void prepareServer(ServerProcess&) { }

    // Connects a client to the server's port.
    LoopbackClient& connectClient(const LoopbackClient::ConnectOptions& options = {});
    // Connects `count` clients, in order.
    std::vector<LoopbackClient*> connectClients(int count, const LoopbackClient::ConnectOptions& options = {});
    // The same, then syncs by a probe from the last of them.
    std::vector<LoopbackClient*> connectRoom(int count, const LoopbackClient::ConnectOptions& options = {});
    // Both as references to unpack by name: auto [a, b] = connectClients<2>();
    template<size_t N>
    auto connectClients(const LoopbackClient::ConnectOptions& options = {}) { return byName<N>(connectClients(int(N), options)); }
    template<size_t N>
    auto connectRoom(const LoopbackClient::ConnectOptions& options = {}) { return byName<N>(connectRoom(int(N), options)); }
    // The clients still connected, in the order they connected.
    std::vector<LoopbackClient*> openClients() const;

    // Sync by data: `sender` sends the probe and every open client reads it back. The server
    // handles a client's data only after accepting it and every client before it.
    void syncByProbe(LoopbackClient& sender);
    // Sync without data: a client connects and leaves at once, and every open client reads
    // its leave notice. `afterData` says which form that notice takes.
    void syncByPassingClient(bool afterData);

    // `client` reads exactly `expected` next.
    static void expectReceives(LoopbackClient& client, const std::string& expected);
    // Every open client reads exactly `expected` next.
    void expectAllReceive(const std::string& expected);
    // Every open client but `except` reads exactly `expected` next.
    void expectOthersReceive(const LoopbackClient& except, const std::string& expected);
    // `leaver` closes; every open client reads its leave notice (continued or first form) next.
    void closeAndExpectLeaveNotice(LoopbackClient& leaver, bool continued);

    // The most a connection's send buffer grows to (the kernel's tcp_wmem maximum): what a
    // client that reads nothing holds on the server's side.
    static size_t largestSendBuffer();

private:
    void startNewServer();

    std::unique_ptr<TempDirectory> m_configHome;
    std::unique_ptr<TempDirectory> m_runtimeDirectory;
    std::optional<std::string> m_replyIni;
    std::unique_ptr<ServerProcess> m_server;
    std::vector<std::unique_ptr<LoopbackClient>> m_clients;
};
