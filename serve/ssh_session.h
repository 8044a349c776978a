// The SSH side of a viewer's connection, through libssh as a server: key
// exchange, any user name without a password or key, one session channel with
// a pty and a shell. Exec, subsystems, port forwarding (either way), agent and
// X11 forwarding and every other request are refused. Never waits: the caller
// pumps it when its socket is ready.
#pragma once

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/server.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The server's host key, kept in `directory` (made when missing) and made on
// first start. False with the reason in `error`.
bool loadSshHostKey(const std::string& directory, ssh_key& key, std::string& error);
// The directory for the host key when none is given: $XDG_DATA_HOME/vornak or
// ~/.local/share/vornak. "" when neither variable is set.
std::string defaultSshDataDirectory();

class SshSession {
  public:
    // Takes over the accepted socket `fd` (closed with the session).
    SshSession(ssh_bind bind, int fd);
    ~SshSession();
    SshSession(const SshSession&) = delete;
    SshSession& operator=(const SshSession&) = delete;

    // Serves what the socket has now (key exchange, requests, typed bytes, the
    // output libssh holds). False once the connection has ended or failed.
    bool pump();
    // libssh holds bytes the socket has not taken yet.
    bool writePending() const;
    // Writes what it can without waiting; bytes taken, or -1 when broken.
    long writeSome(const char* data, size_t count);
    // Ends the session: exit status 0, end of data, channel closed.
    void closeChannel();

    // A pty and then a shell were asked for and granted.
    bool ready() const { return shell_; }
    const std::string& terminalType() const { return terminalType_; }
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    uint32_t sizeReports() const { return sizeReports_; }
    // Bytes typed since the last call, taken away.
    std::string takeTyped();
    // What a refused request was, for the log ("" when none).
    const std::string& refused() const { return refused_; }
    bool failed() const { return failed_; }
    const char* error() const;

  private:
    static ssh_channel openChannel(ssh_session session, void* self);
    static int acceptAuth(ssh_session, const char*, void*);
    static int acceptPassword(ssh_session, const char*, const char*, void*);
    static int pty(ssh_session, ssh_channel, const char* term, int width, int height, int, int,
                   void* self);
    static int shell(ssh_session, ssh_channel, void* self);
    static int windowChange(ssh_session, ssh_channel, int width, int height, int, int, void* self);
    static int exec(ssh_session, ssh_channel, const char*, void* self);
    static int subsystem(ssh_session, ssh_channel, const char*, void* self);
    static int data(ssh_session, ssh_channel, void* bytes, uint32_t length, int, void* self);
    static void closed(ssh_session, ssh_channel, void* self);
    static int message(ssh_session, ssh_message message, void* self);

    ssh_session session_ = nullptr;
    ssh_channel channel_ = nullptr;
    ssh_event event_ = nullptr;
    ssh_server_callbacks_struct serverCallbacks_{};
    ssh_channel_callbacks_struct channelCallbacks_{};
    bool keysExchanged_ = false;
    bool pty_ = false;
    bool shell_ = false;
    bool ended_ = false;
    bool failed_ = false;
    std::string terminalType_;
    int columns_ = 80;
    int rows_ = 24;
    uint32_t sizeReports_ = 0;
    std::string typed_;
    std::string refused_;
};
