// The show served to terminals over the network: listening sockets, one event
// loop over every connection (poll; no thread per viewer), the telnet side of
// each viewer, the limits, and one log line per connection on standard error.
// The caller renders the frames on its clock and hands each one over; between
// frames it lets the server wait for its sockets.
#pragma once

#include <poll.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "serve/broadcast.h"

struct ssh_bind_struct;

struct ServeSettings {
    // "" leaves a protocol off; otherwise [HOST:]PORT (HOST defaults to every
    // address; port 0 takes any free port).
    std::string telnet;
    std::string ssh;
    size_t maxViewers = 1000;  // connections at once, in all
    // Connections at once from one address; IPv6 addresses count by their /64
    // network, which one client usually has to itself.
    size_t maxViewersPerAddress = 8;
    uint32_t negotiationSeconds = 10;  // to agree on the terminal
    uint32_t inputBytesPerSecond = 4096;
    uint32_t idleSeconds = 30;       // a viewer whose link takes nothing this long goes
    size_t outputBound = 64 * 1024;  // bytes waiting per viewer before it skips frames
    size_t maxLayouts = 64;          // different colour depth and size pairs at once
    uint32_t startDelayMs = 3000;    // between the start-up lines and the picture
    // Where the SSH host key is kept ("": the user's data directory).
    std::string dataDirectory;
    // Whom the server runs as after binding when started as root.
    std::string user = "nobody";
};

struct sockaddr_storage;
// What the per-address limit counts a peer under: its IPv4 address (also when
// mapped into IPv6), or its IPv6 /64 network as "PREFIX::/64".
std::string addressLimitKey(const sockaddr_storage& address);

// Splits [HOST:]PORT (HOST may be a bracketed IPv6 address). False when malformed.
bool parseListenAddress(const std::string& text, std::string& host, uint16_t& port);

class ServeConnection;

class ShowServer {
  public:
    explicit ShowServer(const ServeSettings& settings, std::FILE* log = stderr);
    ~ShowServer();
    ShowServer(const ShowServer&) = delete;
    ShowServer& operator=(const ShowServer&) = delete;

    // Binds the listening sockets; false with the reason in `error`.
    bool open(std::string& error);
    // Started as root: continues as the settings' user. False with the reason.
    bool dropPrivileges(std::string& error);
    // The port the telnet listener is bound to (0: none).
    uint16_t telnetPort() const { return telnetPort_; }
    // The port the SSH listener is bound to (0: none).
    uint16_t sshPort() const { return sshPort_; }

    // Waits up to `waitMs` for the sockets and serves what they have; `now` in
    // milliseconds (wrapping).
    void step(uint32_t now, uint32_t waitMs);
    // Hands the show's cells (SHOW_CELL_BYTES) to every viewer.
    void frame(const uint8_t* cells, uint32_t now);
    // Gives every terminal back and closes every connection (within a moment).
    void close(uint32_t now);

    size_t connectionCount() const { return connections_.size(); }
    size_t layoutCount() const { return broadcast_.groupCount(); }

  private:
    struct Listener {
        int fd = -1;
        bool ssh = false;
    };
    bool listen(const std::string& address, bool ssh, std::string& error);
    void accept(Listener& listener, uint32_t now);
    void serve(ServeConnection& connection, short events, uint32_t now);
    void readInput(ServeConnection& connection, uint32_t now);
    void checkTimes(ServeConnection& connection, uint32_t now);
    void startShowing(ServeConnection& connection, uint32_t now);
    void updateLayout(ServeConnection& connection);
    void end(ServeConnection& connection, const char* reason, const char* line, uint32_t now);
    void finish(ServeConnection& connection);
    void removeFinished();

    ServeSettings settings_;
    std::FILE* log_;
    std::vector<Listener> listeners_;
    uint16_t telnetPort_ = 0;
    uint16_t sshPort_ = 0;
    ssh_bind_struct* sshBind_ = nullptr;
    uint32_t acceptPausedUntil_ = 0;
    bool acceptPaused_ = false;
    std::vector<std::unique_ptr<ServeConnection>> connections_;
    std::map<std::string, size_t> perAddress_;
    Broadcast broadcast_;
    std::vector<BroadcastViewer*> showing_;
    std::vector<pollfd> polls_;
    std::string typed_;
    std::string replies_;
};
