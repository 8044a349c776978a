// A viewer's SSH session asked for anything in any order: a real libssh client
// over a socket pair, its requests (channels, pty with any terminal type and
// size, shell, exec, subsystem, environment, window changes, typed bytes,
// forwarding, agent and X11) chosen by the fuzzer's bytes. Checks that only a
// shell after a pty is granted, that exec and subsystems never are, and that
// what the session keeps stays bounded and clean.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <libssh/libssh.h>
#include <libssh/server.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "fuzz/fuzz_input.h"
#include "serve/ssh_session.h"

namespace {

ssh_bind serverBind() {
    static ssh_bind bind = [] {
        ssh_key key = nullptr;
        if (ssh_pki_generate(SSH_KEYTYPE_ED25519, 0, &key) != SSH_OK) std::abort();
        ssh_bind made = ssh_bind_new();
        if (ssh_bind_options_set(made, SSH_BIND_OPTIONS_IMPORT_KEY, key) != SSH_OK) std::abort();
        return made;
    }();
    return bind;
}

// Up to `limit` bytes of any value but zero (libssh takes C strings).
std::string text(FuzzInput& in, size_t limit) {
    std::string made;
    for (size_t length = in.u8() % (limit + 1); length > 0 && !in.empty(); --length) {
        const uint8_t byte = in.u8();
        made.push_back(char(byte == 0 ? 'x' : byte));
    }
    return made;
}

int anySize(FuzzInput& in) {
    switch (in.u8() % 4) {
        case 0:
            return 0;
        case 1:
            return int(in.u32());  // negative and huge too
        default:
            return in.u8();
    }
}

// Runs the client's side; answers whether the server granted what it must not.
bool runClient(int fd, const uint8_t* data, size_t size) {
    ssh_session session = ssh_new();
    const long timeoutSeconds = 2;
    ssh_options_set(session, SSH_OPTIONS_FD, &fd);
    ssh_options_set(session, SSH_OPTIONS_HOST, "fuzz");
    ssh_options_set(session, SSH_OPTIONS_USER, "anyone");
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &timeoutSeconds);
    const int noConfig = 0;  // no ~/.ssh/config: the same client whoever runs it
    ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &noConfig);
    bool wrong = false;
    if (ssh_connect(session) == SSH_OK && ssh_userauth_none(session, nullptr) == SSH_AUTH_SUCCESS) {
        FuzzInput in(data, size);
        ssh_channel channel = nullptr;
        bool pty = false;
        for (int requests = 0; requests < 24 && !in.empty() && ssh_is_connected(session);
             ++requests) {
            const uint8_t request = in.u8() % 12;
            if (request == 0 || channel == nullptr) {
                ssh_channel opened = ssh_channel_new(session);
                if (ssh_channel_open_session(opened) == SSH_OK && channel == nullptr) {
                    channel = opened;
                } else {
                    ssh_channel_free(opened);
                }
                if (channel == nullptr) break;
                continue;
            }
            switch (request) {
                case 1: {
                    const std::string type = text(in, 300);
                    const int columns = anySize(in), rows = anySize(in);
                    if (ssh_channel_request_pty_size(channel, type.c_str(), columns, rows) ==
                        SSH_OK)
                        pty = true;
                    break;
                }
                case 2:
                    if (ssh_channel_request_shell(channel) == SSH_OK && !pty) wrong = true;
                    break;
                case 3:
                    if (ssh_channel_request_exec(channel, text(in, 40).c_str()) == SSH_OK)
                        wrong = true;
                    break;
                case 4:
                    if (ssh_channel_request_subsystem(channel, text(in, 20).c_str()) == SSH_OK)
                        wrong = true;
                    break;
                case 5:
                    ssh_channel_request_env(channel, text(in, 20).c_str(), text(in, 60).c_str());
                    break;
                case 6: {
                    const int columns = anySize(in), rows = anySize(in);
                    ssh_channel_change_pty_size(channel, columns, rows);
                    break;
                }
                case 7: {
                    const std::string typed = text(in, 255);
                    for (int copies = in.u8() % 40; copies >= 0; --copies)
                        ssh_channel_write(channel, typed.data(), uint32_t(typed.size()));
                    break;
                }
                case 8: {
                    ssh_channel forward = ssh_channel_new(session);
                    if (ssh_channel_open_forward(forward, "127.0.0.1", 22, "127.0.0.1", 5555) ==
                        SSH_OK)
                        wrong = true;
                    ssh_channel_free(forward);
                    break;
                }
                case 9:
                    if (ssh_channel_listen_forward(session, nullptr, in.u16(), nullptr) == SSH_OK)
                        wrong = true;
                    break;
                case 10:
                    if (ssh_channel_request_x11(channel, 0, nullptr, nullptr, 0) == SSH_OK)
                        wrong = true;
                    // Asked for without a reply: the server must simply not act on it.
                    ssh_channel_request_auth_agent(channel);
                    break;
                default: {
                    char buffer[4096];
                    ssh_channel_read_nonblocking(channel, buffer, sizeof buffer, 0);
                    if (in.u8() % 2 == 0) ssh_channel_send_eof(channel);
                    break;
                }
            }
        }
        if (channel != nullptr) ssh_channel_free(channel);
    }
    ssh_disconnect(session);
    ssh_free(session);
    return wrong;
}

void checkSession(const SshSession& server) {
    const std::string& type = server.terminalType();
    if (type.size() > 40) std::abort();
    for (const char c : type) {
        if (c <= ' ' || c >= 0x7F || (c >= 'A' && c <= 'Z')) std::abort();
    }
    if (server.columns() < 0 || server.columns() > 65535 || server.rows() < 0 ||
        server.rows() > 65535)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) return 0;
    SshSession server(serverBind(), sockets[0]);
    std::atomic<bool> done{false};
    bool wrong = false;
    std::thread client([&] {
        wrong = runClient(sockets[1], data, size);  // the client's session closes its socket
        done = true;
    });
    // The server's loop as the show's: pump when the socket has something.
    while (!done) {
        pollfd ready{sockets[0], POLLIN, 0};
        poll(&ready, 1, 5);
        if (!server.pump()) {
            // Ended or failed: the client sees the connection go and stops.
            ::shutdown(sockets[0], SHUT_RDWR);
            break;
        }
        checkSession(server);
        const std::string typed = server.takeTyped();
        if (typed.size() > 4096) std::abort();
    }
    client.join();
    checkSession(server);
    if (wrong) std::abort();
    return 0;
}
