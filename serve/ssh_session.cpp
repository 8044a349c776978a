#include "serve/ssh_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* HOST_KEY_FILE = "ssh_host_ed25519_key";
// A terminal type longer than this is cut (names are far shorter).
constexpr size_t TERMINAL_TYPE_MAX = 40;

bool makeDirectories(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::string defaultSshDataDirectory() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return std::string(data) + "/vornak";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share/vornak";
    return "";
}

bool loadSshHostKey(const std::string& directory, ssh_key& key, std::string& error) {
    key = nullptr;
    if (directory.empty()) {
        error = "no directory for the SSH host key: give one, or set HOME";
        return false;
    }
    const std::string path = directory + "/" + HOST_KEY_FILE;
    if (ssh_pki_import_privkey_file(path.c_str(), nullptr, nullptr, nullptr, &key) == SSH_OK) {
        return true;
    }
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0) {
        error = "cannot read the SSH host key " + path;
        return false;
    }
    if (!makeDirectories(directory)) {
        error = "cannot make the directory " + directory + ": " + std::strerror(errno);
        return false;
    }
    if (ssh_pki_generate(SSH_KEYTYPE_ED25519, 0, &key) != SSH_OK) {
        error = "cannot make an SSH host key";
        return false;
    }
    // Only the server's user may read its private key.
    const mode_t mask = umask(077);
    const int written = ssh_pki_export_privkey_file(key, nullptr, nullptr, nullptr, path.c_str());
    umask(mask);
    if (written != SSH_OK) {
        ssh_key_free(key);
        key = nullptr;
        error = "cannot write the SSH host key " + path;
        return false;
    }
    return true;
}

SshSession::SshSession(ssh_bind bind, int fd) : session_(ssh_new()) {
    if (session_ == nullptr || ssh_bind_accept_fd(bind, session_, fd) != SSH_OK) {
        failed_ = true;
        if (session_ == nullptr) close(fd);
        return;
    }
    ssh_set_blocking(session_, 0);
    ssh_set_auth_methods(session_, SSH_AUTH_METHOD_NONE | SSH_AUTH_METHOD_PASSWORD);
    ssh_callbacks_init(&serverCallbacks_);
    serverCallbacks_.userdata = this;
    serverCallbacks_.auth_none_function = acceptAuth;
    serverCallbacks_.auth_password_function = acceptPassword;
    serverCallbacks_.channel_open_request_session_function = openChannel;
    ssh_set_server_callbacks(session_, &serverCallbacks_);
    ssh_set_message_callback(session_, message, this);

    ssh_callbacks_init(&channelCallbacks_);
    channelCallbacks_.userdata = this;
    channelCallbacks_.channel_pty_request_function = pty;
    channelCallbacks_.channel_shell_request_function = shell;
    channelCallbacks_.channel_pty_window_change_function = windowChange;
    channelCallbacks_.channel_exec_request_function = exec;
    channelCallbacks_.channel_subsystem_request_function = subsystem;
    channelCallbacks_.channel_data_function = data;
    channelCallbacks_.channel_eof_function = closed;
    channelCallbacks_.channel_close_function = closed;
}

SshSession::~SshSession() {
    if (event_ != nullptr) {
        ssh_event_remove_session(event_, session_);
        ssh_event_free(event_);
    }
    if (channel_ != nullptr) ssh_channel_free(channel_);
    if (session_ != nullptr) {
        ssh_disconnect(session_);
        ssh_free(session_);
    }
}

const char* SshSession::error() const {
    return session_ != nullptr ? ssh_get_error(session_) : "no memory";
}

bool SshSession::pump() {
    if (failed_ || ended_) return false;
    if (!keysExchanged_) {
        const int status = ssh_handle_key_exchange(session_);
        if (status == SSH_AGAIN) return true;
        if (status != SSH_OK) {
            failed_ = true;
            return false;
        }
        keysExchanged_ = true;
        event_ = ssh_event_new();
        if (event_ == nullptr || ssh_event_add_session(event_, session_) != SSH_OK) {
            failed_ = true;
            return false;
        }
    }
    if (ssh_event_dopoll(event_, 0) == SSH_ERROR && !ssh_is_connected(session_)) ended_ = true;
    if (!ssh_is_connected(session_)) ended_ = true;
    return !ended_;
}

bool SshSession::writePending() const {
    return session_ != nullptr && (ssh_get_poll_flags(session_) & SSH_WRITE_PENDING) != 0;
}

long SshSession::writeSome(const char* bytes, size_t count) {
    if (channel_ == nullptr || ended_ || failed_) return -1;
    if (writePending()) return 0;
    // Up to what the client's window allows; libssh sends it as the socket takes it.
    const size_t window = ssh_channel_window_size(channel_);
    const uint32_t length = uint32_t(std::min<size_t>({count, window, 1u << 20}));
    if (length == 0) return 0;
    const int written = ssh_channel_write(channel_, bytes, length);
    if (written == SSH_ERROR) return -1;
    return written;
}

void SshSession::closeChannel() {
    if (channel_ == nullptr || ended_) return;
    ssh_channel_request_send_exit_status(channel_, 0);
    ssh_channel_send_eof(channel_);
    ssh_channel_close(channel_);
}

std::string SshSession::takeTyped() {
    std::string typed;
    typed.swap(typed_);
    return typed;
}

ssh_channel SshSession::openChannel(ssh_session session, void* self) {
    SshSession& ssh = *static_cast<SshSession*>(self);
    if (ssh.channel_ != nullptr) return nullptr;  // one show per connection
    ssh.channel_ = ssh_channel_new(session);
    if (ssh.channel_ != nullptr) ssh_set_channel_callbacks(ssh.channel_, &ssh.channelCallbacks_);
    return ssh.channel_;
}

int SshSession::acceptAuth(ssh_session, const char*, void*) {
    return SSH_AUTH_SUCCESS;
}

int SshSession::acceptPassword(ssh_session, const char*, const char*, void*) {
    return SSH_AUTH_SUCCESS;
}

int SshSession::pty(ssh_session, ssh_channel, const char* term, int width, int height, int, int,
                    void* self) {
    SshSession& ssh = *static_cast<SshSession*>(self);
    if (ssh.pty_) return -1;
    ssh.pty_ = true;
    ssh.terminalType_.clear();
    for (const char* at = term; at != nullptr && *at != 0; ++at) {
        if (ssh.terminalType_.size() >= TERMINAL_TYPE_MAX) break;
        const char c = *at;
        if (c > ' ' && c < 0x7F) ssh.terminalType_.push_back(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    ssh.columns_ = std::clamp(width, 0, 65535);
    ssh.rows_ = std::clamp(height, 0, 65535);
    ++ssh.sizeReports_;
    return 0;
}

int SshSession::shell(ssh_session, ssh_channel, void* self) {
    SshSession& ssh = *static_cast<SshSession*>(self);
    if (!ssh.pty_ || ssh.shell_) {
        ssh.refused_ = "a shell without a terminal";
        return -1;
    }
    ssh.shell_ = true;
    return 0;
}

int SshSession::windowChange(ssh_session, ssh_channel, int width, int height, int, int,
                             void* self) {
    SshSession& ssh = *static_cast<SshSession*>(self);
    ssh.columns_ = std::clamp(width, 0, 65535);
    ssh.rows_ = std::clamp(height, 0, 65535);
    ++ssh.sizeReports_;
    return 0;
}

int SshSession::exec(ssh_session, ssh_channel, const char*, void* self) {
    static_cast<SshSession*>(self)->refused_ = "a command";
    return -1;
}

int SshSession::subsystem(ssh_session, ssh_channel, const char*, void* self) {
    static_cast<SshSession*>(self)->refused_ = "a subsystem";
    return -1;
}

int SshSession::data(ssh_session, ssh_channel, void* bytes, uint32_t length, int, void* self) {
    SshSession& ssh = *static_cast<SshSession*>(self);
    // Taken in bounded pieces: the caller counts them against the input limit.
    const uint32_t taken =
        std::min<uint32_t>(length, 4096 - uint32_t(std::min<size_t>(ssh.typed_.size(), 4096)));
    ssh.typed_.append(static_cast<const char*>(bytes), taken);
    return int(taken);
}

void SshSession::closed(ssh_session, ssh_channel, void* self) {
    static_cast<SshSession*>(self)->ended_ = true;
}

int SshSession::message(ssh_session, ssh_message message, void* self) {
    // Everything the callbacks above do not take: port forwarding both ways,
    // other channel types, agent and X11 forwarding, environment variables.
    SshSession& ssh = *static_cast<SshSession*>(self);
    const int type = ssh_message_type(message);
    if (type == SSH_REQUEST_CHANNEL_OPEN) {
        ssh.refused_ = "a forwarding channel";
    } else if (type == SSH_REQUEST_GLOBAL) {
        ssh.refused_ = "a global request (forwarding)";
    } else if (type == SSH_REQUEST_CHANNEL &&
               ssh_message_subtype(message) != SSH_CHANNEL_REQUEST_ENV) {
        ssh.refused_ = "a channel request (agent, X11, ...)";
    }
    return 1;  // libssh answers with its refusal
}
