#include "serve/show_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/terminal_keys.h"
#include "platform/terminal_sequences.h"
#include "serve/ssh_session.h"
#include "serve/telnet_protocol.h"

namespace {

constexpr std::string_view GIVE_BACK = vt::GIVE_BACK_VIEWER_SCREEN;
constexpr std::string_view TAKE_SCREEN = vt::TAKE_VIEWER_SCREEN;
// A closing connection is given this long to take its last bytes and close.
constexpr uint32_t CLOSE_GRACE_MS = 5000;
// After accept runs out of descriptors, it is tried again this much later.
constexpr uint32_t ACCEPT_PAUSE_MS = 100;
// The kernel's send buffer per viewer: a slow link fills it soon and then
// skips frames, rather than falling seconds behind.
constexpr int SEND_BUFFER_BYTES = 64 * 1024;

bool reached(uint32_t now, uint32_t deadline) {
    return int32_t(now - deadline) >= 0;
}

void setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

std::string addressText(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, host,
                  sizeof host);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], host, sizeof host);
        } else {
            inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        }
    }
    return host;
}

}  // namespace

std::string addressLimitKey(const sockaddr_storage& address) {
    if (address.ss_family != AF_INET6) return addressText(address);
    sockaddr_in6 network = reinterpret_cast<const sockaddr_in6&>(address);
    if (IN6_IS_ADDR_V4MAPPED(&network.sin6_addr)) return addressText(address);
    std::memset(&network.sin6_addr.s6_addr[8], 0, 8);
    char host[INET6_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET6, &network.sin6_addr, host, sizeof host);
    return std::string(host) + "/64";
}

namespace {

uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

// Sends a line to a connection that is about to be closed, if it can take it now.
void sendLineNow(int fd, std::string_view line) {
    [[maybe_unused]] const ssize_t sent =
        ::send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace

// One viewer's connection: its socket, telnet or SSH state, keys and place in the broadcast.
class ServeConnection : public ViewerLink {
  public:
    enum class Phase { Negotiating, Waiting, Showing, Closing, Finished };

    ServeConnection(int fd, std::string address, std::string limitKey, uint16_t port, size_t bound,
                    uint32_t now)
        : fd(fd),
          address(std::move(address)),
          limitKey(std::move(limitKey)),
          port(port),
          viewer(*this, bound),
          phaseStart(now),
          inputWindowStart(now) {
        viewer.noteTime(now);
    }

    long writeSome(const char* data, size_t count) override {
        if (ssh) return ssh->writeSome(data, count);
        const ssize_t sent = ::send(fd, data, count, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) return long(sent);
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        return -1;
    }

    bool settled() const { return ssh ? ssh->ready() : telnet.settled(); }
    const std::string& terminalType() const {
        return ssh ? ssh->terminalType() : telnet.terminalType();
    }
    uint32_t sizeReports() const { return ssh ? ssh->sizeReports() : telnet.sizeReports(); }

    int fd;
    const std::string address;
    const std::string limitKey;  // what the per-address limit counts it under
    const uint16_t port;
    BroadcastViewer viewer;
    TelnetParser telnet;
    std::unique_ptr<SshSession> ssh;  // null for telnet
    TerminalKeyDecoder keys;
    Phase phase = Phase::Negotiating;
    uint32_t phaseStart;
    uint32_t inputWindowStart;
    uint32_t inputInWindow = 0;
    bool writeShut = false;
    int columns = 80;
    int rows = 24;
    uint32_t sizeReportsSeen = 0;
    TerminalColors colors = TerminalColors::Ansi16;
    std::string reason;
};

bool parseListenAddress(const std::string& text, std::string& host, uint16_t& port) {
    std::string portText = text;
    host.clear();
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (host.find(':') != std::string::npos) return false;  // IPv6 needs brackets
    }
    if (portText.empty() || portText.size() > 5) return false;
    unsigned value = 0;
    for (const char c : portText) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + unsigned(c - '0');
    }
    if (value > 65535) return false;
    port = uint16_t(value);
    return true;
}

ShowServer::ShowServer(const ServeSettings& settings, std::FILE* log)
    : settings_(settings), log_(log) {}

ShowServer::~ShowServer() {
    for (auto& connection : connections_) {
        if (!connection->ssh && connection->fd >= 0) ::close(connection->fd);
    }
    connections_.clear();
    for (const Listener& listener : listeners_) ::close(listener.fd);
    if (sshBind_ != nullptr) ssh_bind_free(sshBind_);
}

bool ShowServer::listen(const std::string& address, bool ssh, std::string& error) {
    std::string host;
    uint16_t port = 0;
    if (!parseListenAddress(address, host, port)) {
        error = "'" + address + "' is not [HOST:]PORT";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string portText = std::to_string(port);
    const int status =
        getaddrinfo(host.empty() ? nullptr : host.c_str(), portText.c_str(), &hints, &found);
    if (status != 0) {
        error = "cannot find the address '" + host + "': " + gai_strerror(status);
        return false;
    }
    // Every address: one IPv6 socket that takes IPv4 too, where the system has IPv6.
    addrinfo* chosen = found;
    if (host.empty()) {
        for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
            if (at->ai_family == AF_INET6) chosen = at;
        }
    }
    const int fd = socket(chosen->ai_family, chosen->ai_socktype, chosen->ai_protocol);
    bool ok = fd >= 0;
    if (ok) {
        const int one = 1, zero = 0;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (chosen->ai_family == AF_INET6 && host.empty())
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
        ok = bind(fd, chosen->ai_addr, chosen->ai_addrlen) == 0 && ::listen(fd, 128) == 0;
    }
    if (!ok) {
        error = "cannot listen on " + address + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        freeaddrinfo(found);
        return false;
    }
    freeaddrinfo(found);
    setNonBlocking(fd);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    (ssh ? sshPort_ : telnetPort_) = portOf(bound);
    listeners_.push_back({fd, ssh});
    return true;
}

bool ShowServer::open(std::string& error) {
    // Every viewer is a descriptor: allow as many as the system lets this process have.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (!settings_.telnet.empty() && !listen(settings_.telnet, false, error)) return false;
    if (!settings_.ssh.empty()) {
        // The key is read (or made) now, while the server may still be root.
        const std::string directory =
            settings_.dataDirectory.empty() ? defaultSshDataDirectory() : settings_.dataDirectory;
        ssh_key key = nullptr;
        if (!loadSshHostKey(directory, key, error)) return false;
        sshBind_ = ssh_bind_new();
        if (sshBind_ == nullptr ||
            ssh_bind_options_set(sshBind_, SSH_BIND_OPTIONS_IMPORT_KEY, key) != SSH_OK) {
            ssh_key_free(key);
            error = "cannot set up SSH";
            return false;
        }
        if (!listen(settings_.ssh, true, error)) return false;
    }
    if (listeners_.empty()) {
        error = "nothing to serve: give a telnet or SSH address";
        return false;
    }
    return true;
}

bool ShowServer::dropPrivileges(std::string& error) {
    if (geteuid() != 0) return true;
    const passwd* user = getpwnam(settings_.user.c_str());
    if (user == nullptr) {
        error = "started as root, and there is no user '" + settings_.user + "' to continue as";
        return false;
    }
    if (setgroups(0, nullptr) != 0 || setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0 ||
        setuid(0) == 0) {
        error = "cannot continue as the user '" + settings_.user + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

void ShowServer::accept(Listener& listener, uint32_t now) {
    for (;;) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = ::accept(listener.fd, reinterpret_cast<sockaddr*>(&address), &length);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                acceptPaused_ = true;
                acceptPausedUntil_ = now + ACCEPT_PAUSE_MS;
            }
            return;
        }
        setNonBlocking(fd);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &SEND_BUFFER_BYTES, sizeof SEND_BUFFER_BYTES);
        std::string host = addressText(address);
        std::string limitKey = addressLimitKey(address);
        const uint16_t port = portOf(address);
        const char* refusal = nullptr;
        if (connections_.size() >= settings_.maxViewers) {
            refusal = "the show has as many viewers as it can take";
        } else if (perAddress_[limitKey] >= settings_.maxViewersPerAddress) {
            refusal = "too many viewers from this address";
        }
        if (refusal != nullptr) {
            char line[160];
            std::snprintf(line, sizeof line, "vornak: %s; try again later.\r\n", refusal);
            sendLineNow(fd, line);
            ::close(fd);
            if (perAddress_[limitKey] == 0) perAddress_.erase(limitKey);
            std::fprintf(log_, "vornak: %s:%u refused: %s\n", host.c_str(), unsigned(port),
                         refusal);
            continue;
        }
        ++perAddress_[limitKey];
        auto connection = std::make_unique<ServeConnection>(
            fd, std::move(host), std::move(limitKey), port, settings_.outputBound, now);
        if (listener.ssh) {
            connection->ssh = std::make_unique<SshSession>(sshBind_, fd);
            connection->ssh->pump();  // the server's greeting goes out now
            if (connection->ssh->failed()) {
                connection->reason = "SSH set-up failed";
                connection->fd = -1;  // closed with the session
                finish(*connection);
                continue;
            }
        } else {
            connection->viewer.send(connection->telnet.opening());
        }
        connections_.push_back(std::move(connection));
    }
}

void ShowServer::end(ServeConnection& connection, const char* reason, const char* line,
                     uint32_t now) {
    if (connection.phase == ServeConnection::Phase::Closing ||
        connection.phase == ServeConnection::Phase::Finished) {
        return;
    }
    if (connection.reason.empty()) connection.reason = reason;
    if (connection.phase == ServeConnection::Phase::Showing) {
        broadcast_.leave(connection.viewer);
        connection.viewer.send(GIVE_BACK);
    }
    if (line != nullptr) connection.viewer.send(line);
    connection.phase = ServeConnection::Phase::Closing;
    connection.phaseStart = now;
}

void ShowServer::finish(ServeConnection& connection) {
    if (connection.phase == ServeConnection::Phase::Finished) return;
    const bool isSsh = connection.ssh != nullptr;
    const std::string type = connection.terminalType();
    broadcast_.leave(connection.viewer);
    if (connection.ssh) {
        if (!connection.ssh->refused().empty() &&
            connection.reason.find("refused") == std::string::npos)
            connection.reason += " (refused " + connection.ssh->refused() + ")";
        connection.ssh.reset();  // closes the socket
    } else if (connection.fd >= 0) {
        ::close(connection.fd);
    }
    connection.fd = -1;
    connection.phase = ServeConnection::Phase::Finished;
    auto count = perAddress_.find(connection.limitKey);
    if (count != perAddress_.end() && --count->second == 0) perAddress_.erase(count);
    std::fprintf(log_, "vornak: %s:%u %s %s %dx%d %s, %u frames sent, %u skipped: %s\n",
                 connection.address.c_str(), unsigned(connection.port), isSsh ? "ssh" : "telnet",
                 type.empty() ? "(no terminal type)" : type.c_str(), connection.columns,
                 connection.rows, terminalColorsName(connection.colors),
                 connection.viewer.framesSent(), connection.viewer.framesSkipped(),
                 connection.reason.c_str());
}

void ShowServer::updateLayout(ServeConnection& connection) {
    // A size of 0 stands for "not known" (RFC 1073); without a size, 80x24 is assumed.
    int columns = 0, rows = 0;
    if (connection.ssh) {
        columns = connection.ssh->columns();
        rows = connection.ssh->rows();
    } else if (connection.telnet.hasWindowSize()) {
        columns = connection.telnet.columns();
        rows = connection.telnet.rows();
    }
    connection.columns = columns != 0 ? columns : 80;
    connection.rows = rows != 0 ? rows : 24;
    connection.sizeReportsSeen = connection.sizeReports();
    const std::string& type = connection.terminalType();
    connection.colors =
        chooseTerminalColors(TerminalColors::Auto, nullptr, type.empty() ? nullptr : type.c_str());
}

void ShowServer::startShowing(ServeConnection& connection, uint32_t now) {
    updateLayout(connection);
    const ViewerLayout layout = layoutFor(connection.colors, connection.columns, connection.rows);
    if (!broadcast_.show(connection.viewer, layout, settings_.maxLayouts)) {
        end(connection, "too many terminal sizes at once",
            "vornak: too many different terminal sizes are watching; try 80x50.\r\n", now);
        return;
    }
    connection.viewer.send(TAKE_SCREEN);
    connection.phase = ServeConnection::Phase::Showing;
    connection.phaseStart = now;
}

void ShowServer::readInput(ServeConnection& connection, uint32_t now) {
    using Phase = ServeConnection::Phase;
    uint8_t buffer[4096];
    size_t count = 0;
    if (connection.ssh) {
        const bool open = connection.ssh->pump();
        typed_ = connection.ssh->takeTyped();
        if (!open) {
            if (connection.reason.empty()) {
                connection.reason = connection.ssh->failed()
                                        ? std::string("SSH failed: ") + connection.ssh->error()
                                        : "closed by the viewer";
            }
            finish(connection);
            return;
        }
        count = typed_.size();
    } else {
        const ssize_t received = ::recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (received <= 0) {
            if (connection.reason.empty()) {
                connection.reason = received == 0 ? "closed by the viewer" : "connection reset";
            }
            finish(connection);
            return;
        }
        count = size_t(received);
    }
    if (connection.phase == Phase::Closing || count == 0) return;  // discarded

    if (now - connection.inputWindowStart >= 1000) {
        connection.inputWindowStart = now;
        connection.inputInWindow = 0;
    }
    connection.inputInWindow += uint32_t(count);
    if (connection.inputInWindow > settings_.inputBytesPerSecond) {
        end(connection, "too much input", "\r\nvornak: too much input; goodbye.\r\n", now);
        return;
    }

    if (!connection.ssh) {
        typed_.clear();
        replies_.clear();
        connection.telnet.feed(buffer, count, typed_, replies_);
        if (!replies_.empty()) connection.viewer.send(replies_);
    }

    bool quit = false;
    for (const char c : typed_) {
        if (c == 'q' || c == 'Q' || c == 3 || c == 4) quit = true;
    }
    if (connection.keys.feed(reinterpret_cast<const uint8_t*>(typed_.data()), typed_.size(), now) >
        0) {
        quit = true;
    }
    if (quit) {
        end(connection, "ended by the viewer", nullptr, now);
        return;
    }
    if (connection.phase == Phase::Showing &&
        connection.sizeReports() != connection.sizeReportsSeen) {
        updateLayout(connection);
        const ViewerLayout layout =
            layoutFor(connection.colors, connection.columns, connection.rows);
        if (!broadcast_.show(connection.viewer, layout, settings_.maxLayouts)) {
            end(connection, "too many terminal sizes at once", nullptr, now);
        }
    }
}

void ShowServer::checkTimes(ServeConnection& connection, uint32_t now) {
    using Phase = ServeConnection::Phase;
    connection.viewer.noteTime(now);
    if (connection.keys.poll(now) > 0) end(connection, "ended by the viewer", nullptr, now);
    switch (connection.phase) {
        case Phase::Negotiating:
            if (connection.settled()) {
                updateLayout(connection);
                char text[512];
                const std::string& type = connection.terminalType();
                int length = std::snprintf(
                    text, sizeof text,
                    "VORNAK - the show as it plays now; no music (terminals have none).\r\n"
                    "Your terminal: %s, %dx%d, %s.\r\n",
                    type.empty() ? "type not told" : type.c_str(), connection.columns,
                    connection.rows, terminalColorsName(connection.colors));
                if (connection.columns < SHOW_COLUMNS || connection.rows < SHOW_ROWS) {
                    length += std::snprintf(
                        text + length, sizeof text - size_t(length),
                        "This terminal is %dx%d; the show needs %dx%d and shows the top-left "
                        "part.\r\nTo see it all, enlarge the window or reduce its font size, "
                        "now or later.\r\n",
                        connection.columns, connection.rows, SHOW_COLUMNS, SHOW_ROWS);
                }
                std::snprintf(text + length, sizeof text - size_t(length),
                              "Escape or q ends it.\r\nStart in %u seconds...",
                              unsigned(settings_.startDelayMs / 1000));
                connection.viewer.send(text);
                connection.phase = Phase::Waiting;
                connection.phaseStart = now;
            } else if (reached(now, connection.phaseStart + settings_.negotiationSeconds * 1000)) {
                if (connection.ssh) {
                    connection.reason = "no terminal asked for in time";
                    finish(connection);
                } else {
                    end(connection, "no terminal negotiation",
                        "vornak: this is the show for a telnet client (telnet HOST PORT).\r\n",
                        now);
                }
            }
            break;
        case Phase::Waiting:
            if (reached(now, connection.phaseStart + settings_.startDelayMs)) {
                startShowing(connection, now);
            }
            break;
        case Phase::Showing:
            if (!connection.viewer.queue().empty() &&
                reached(now, connection.viewer.lastProgress() + settings_.idleSeconds * 1000)) {
                connection.reason =
                    "took nothing for " + std::to_string(settings_.idleSeconds) + " s";
                broadcast_.leave(connection.viewer);
                finish(connection);
            }
            break;
        case Phase::Closing:
            if (connection.viewer.queue().empty() && !connection.writeShut) {
                if (connection.ssh) {
                    connection.ssh->closeChannel();
                } else {
                    shutdown(connection.fd, SHUT_WR);
                }
                connection.writeShut = true;
            }
            if (reached(now, connection.phaseStart + CLOSE_GRACE_MS)) finish(connection);
            break;
        case Phase::Finished:
            break;
    }
}

void ShowServer::serve(ServeConnection& connection, short events, uint32_t now) {
    // libssh reads and writes its socket itself, whichever way it is ready.
    if (connection.ssh) {
        readInput(connection, now);
        if (connection.phase == ServeConnection::Phase::Finished) return;
    }
    if (events & POLLOUT) {
        if (!connection.viewer.flush()) {
            if (connection.reason.empty()) connection.reason = "connection broken";
            finish(connection);
            return;
        }
    }
    if (!connection.ssh && (events & (POLLIN | POLLHUP | POLLERR))) readInput(connection, now);
}

void ShowServer::removeFinished() {
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [](const auto& connection) {
                                          return connection->phase ==
                                                 ServeConnection::Phase::Finished;
                                      }),
                       connections_.end());
}

void ShowServer::step(uint32_t now, uint32_t waitMs) {
    if (acceptPaused_ && reached(now, acceptPausedUntil_)) acceptPaused_ = false;
    polls_.clear();
    for (const Listener& listener : listeners_) {
        polls_.push_back({listener.fd, short(acceptPaused_ ? 0 : POLLIN), 0});
    }
    for (const auto& connection : connections_) {
        short events = POLLIN;
        if (!connection->viewer.queue().empty() ||
            (connection->ssh && connection->ssh->writePending())) {
            events |= POLLOUT;
        }
        polls_.push_back({connection->fd, events, 0});
    }
    const int timeout = int(std::min<uint32_t>(waitMs, acceptPaused_ ? ACCEPT_PAUSE_MS : waitMs));
    const int ready = poll(polls_.data(), polls_.size(), timeout);
    if (ready < 0 && errno != EINTR) return;
    const size_t listenerCount = listeners_.size();
    // Connections accepted below come after the polled ones.
    const size_t polledConnections = connections_.size();
    for (size_t i = 0; ready > 0 && i < polledConnections; ++i) {
        const short events = polls_[listenerCount + i].revents;
        if (events != 0) serve(*connections_[i], events, now);
    }
    for (size_t i = 0; ready > 0 && i < listenerCount; ++i) {
        if (polls_[i].revents & POLLIN) accept(listeners_[i], now);
    }
    for (auto& connection : connections_) checkTimes(*connection, now);
    removeFinished();
}

void ShowServer::frame(const uint8_t* cells, uint32_t now) {
    showing_.clear();
    for (auto& connection : connections_) {
        connection->viewer.noteTime(now);
        if (connection->phase == ServeConnection::Phase::Showing) {
            showing_.push_back(&connection->viewer);
        }
    }
    broadcast_.frame(cells, showing_);
    for (auto& connection : connections_) {
        if (connection->phase == ServeConnection::Phase::Showing && !connection->viewer.flush()) {
            if (connection->reason.empty()) connection->reason = "connection broken";
            finish(*connection);
        }
    }
    removeFinished();
}

void ShowServer::close(uint32_t now) {
    for (auto& connection : connections_) {
        end(*connection, "the server stopped", "vornak: the server stops; goodbye.\r\n", now);
    }
    // A moment for the last bytes to go out.
    for (uint32_t waited = 0; waited < 1000 && !connections_.empty(); waited += 20) {
        bool pending = false;
        for (auto& connection : connections_) {
            if (connection->ssh) connection->ssh->pump();  // libssh writes what it holds
            connection->viewer.flush();
            if (!connection->viewer.queue().empty() ||
                (connection->ssh && connection->ssh->writePending())) {
                pending = true;
            }
        }
        if (!pending) break;
        poll(nullptr, 0, 20);
    }
    for (auto& connection : connections_) {
        if (connection->ssh) {
            connection->ssh->closeChannel();  // the client ends as after Escape
            connection->ssh->pump();
        }
        finish(*connection);
    }
    removeFinished();
}
