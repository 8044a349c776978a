// The server on loopback with real sockets, on a clock the test moves: viewers
// that read, one that never reads, bad clients, an SSH client asking for what
// it may and may not have; and the broadcast's bytes read by a terminal
// emulator, for a viewer in step and one that falls behind.
#include <arpa/inet.h>
#include <libssh/libssh.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/terminal_sequences.h"
#include "serve/broadcast.h"
#include "serve/show_server.h"
#include "serve/telnet_protocol.h"
#include "tests/vterm_screen.h"
#include "tests/xorshift_random.h"

using namespace telnet;

namespace {

// Cells that change in about a third of their places each frame.
void changeCells(std::vector<uint8_t>& cells, XorshiftRandom& random) {
    for (size_t i = 0; i < cells.size(); i += 4) {
        if (random.next() % 3 != 0) continue;
        cells[i] = uint8_t(random.next());
        cells[i + 2] = uint8_t(random.next());
    }
}

class Client {
  public:
    // A small `receiveBuffer` makes a client that reads nothing fill its link soon,
    // whatever the system's own buffer sizes.
    explicit Client(uint16_t port, int receiveBuffer = 0) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        if (receiveBuffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { closeNow(); }
    bool connected() const { return connected_; }
    void send(const std::string& bytes) {
        [[maybe_unused]] const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Answers as a telnet client of the given type and size does.
    void negotiate(const char* type, int columns, int rows) {
        std::string answer = {char(IAC),  char(WILL), char(TTYPE), char(IAC),   char(WILL),
                              char(NAWS), char(IAC),  char(SB),    char(TTYPE), char(TTYPE_IS)};
        answer += type;
        answer += {char(IAC), char(SE), char(IAC), char(SB), char(NAWS)};
        for (const int byte : {columns >> 8, columns & 255, rows >> 8, rows & 255}) {
            answer += char(byte);
            if (byte == IAC) answer += char(IAC);  // doubled inside a subnegotiation
        }
        answer += {char(IAC), char(SE)};
        send(answer);
    }
    // Reads what is there; false once the server has closed the connection.
    bool read() {
        char buffer[65536];
        for (;;) {
            const ssize_t count = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (count > 0) {
                received.append(buffer, size_t(count));
                continue;
            }
            if (count == 0) open_ = false;
            return open_;
        }
    }
    void closeNow() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    size_t frames() const {
        size_t count = 0;
        for (size_t at = received.find(vt::SYNC_BEGIN); at != std::string::npos;
             at = received.find(vt::SYNC_BEGIN, at + 1)) {
            ++count;
        }
        return count;
    }
    std::string received;

  private:
    int fd_;
    bool connected_ = false;
    bool open_ = true;
};

// A link into an emulator that takes at most `budget` bytes until given more.
class EmulatorLink : public ViewerLink {
  public:
    EmulatorLink(int rows, int columns) : emulator(rows, columns) {}
    long writeSome(const char* data, size_t count) override {
        const size_t taken = std::min(count, budget);
        budget -= taken;
        emulator.feed({data, taken});
        return long(taken);
    }
    Emulator emulator;
    size_t budget = SIZE_MAX;
};

// Compares each viewer's picture, moved by `layout`, with how a terminal of its own
// shows the show's cells; reports the first few differences.
void expectPictures(const std::vector<const EmulatorLink*>& links, const ViewerLayout& layout,
                    const std::vector<uint8_t>& cells) {
    for (size_t viewer = 0; viewer < links.size(); ++viewer) {
        int mismatches = 0;
        for (int row = 0; row < SHOW_ROWS && mismatches < 3; ++row) {
            for (int column = 0; column < SHOW_COLUMNS && mismatches < 3; ++column) {
                bool singleWidth = false;
                const Look shown = links[viewer]->emulator.look(row + layout.top,
                                                                column + layout.left, singleWidth);
                const Look intended =
                    cellLook(TerminalColors::TrueColor,
                             &cells[(size_t(row) * SHOW_COLUMNS + size_t(column)) * 4]);
                if (shown != intended) {
                    ADD_FAILURE() << "viewer " << viewer << " at " << row << "," << column << ": "
                                  << describe(shown) << ", intended " << describe(intended);
                    ++mismatches;
                }
            }
        }
    }
}

void setCell(std::vector<uint8_t>& cells, int row, int column, uint8_t character) {
    const size_t at = (size_t(row) * SHOW_COLUMNS + size_t(column)) * 4;
    cells[at] = character;
    cells[at + 2] = 0x1F;
}

}  // namespace

TEST(Broadcast, ViewerThatFellBehindCatchesUpToTheSamePicture) {
    constexpr int COLUMNS = 100, ROWS = 60;
    const ViewerLayout layout = layoutFor(TerminalColors::TrueColor, COLUMNS, ROWS);
    EmulatorLink fastLink(ROWS, COLUMNS), slowLink(ROWS, COLUMNS);
    BroadcastViewer fast(fastLink, 64 * 1024), slow(slowLink, 64 * 1024);
    Broadcast broadcast;
    ASSERT_TRUE(broadcast.show(fast, layout, 4));
    ASSERT_TRUE(broadcast.show(slow, layout, 4));

    std::vector<uint8_t> cells(SHOW_CELL_BYTES, 0);
    XorshiftRandom random(3);
    const std::vector<BroadcastViewer*> viewers = {&fast, &slow};
    for (int frame = 0; frame < 60; ++frame) {
        changeCells(cells, random);
        slowLink.budget = frame < 50 ? 9000 : SIZE_MAX;  // the last frames: all it is given
        slow.flush();
        broadcast.frame(cells.data(), viewers);
        EXPECT_LE(slow.queue().size(), 64u * 1024 + 2 * SHOW_CELL_BYTES * 5);
    }
    EXPECT_GT(slow.framesSkipped(), 10u);
    EXPECT_EQ(fast.framesSkipped(), 0u);
    expectPictures({&fastLink, &slowLink}, layout, cells);
}

// After a catch-up the late viewer's cursor is where the catch-up's last change
// was, not where the frame shared by all viewers left it; the next shared frame
// must not move from there relative to a cursor this viewer does not have.
TEST(Broadcast, SharedFrameAfterACatchUpDoesNotTrustTheCursor) {
    const ViewerLayout layout = layoutFor(TerminalColors::TrueColor, SHOW_COLUMNS, SHOW_ROWS);
    EmulatorLink fastLink(SHOW_ROWS, SHOW_COLUMNS), slowLink(SHOW_ROWS, SHOW_COLUMNS);
    BroadcastViewer fast(fastLink, 64 * 1024), slow(slowLink, 2048);
    Broadcast broadcast;
    ASSERT_TRUE(broadcast.show(fast, layout, 4));
    ASSERT_TRUE(broadcast.show(slow, layout, 4));
    const std::vector<BroadcastViewer*> viewers = {&fast, &slow};

    std::vector<uint8_t> cells(SHOW_CELL_BYTES, 0);
    slowLink.budget = 0;  // the complete first frame waits in its queue
    broadcast.frame(cells.data(), viewers);
    for (int row = 20; row < 30; ++row) {
        for (int column = 0; column < SHOW_COLUMNS; column += 2) setCell(cells, row, column, 'x');
    }
    broadcast.frame(cells.data(), viewers);  // too much for the slow one: it falls behind
    slowLink.budget = SIZE_MAX;
    slow.flush();
    setCell(cells, 10, 5, 'a');  // shared: ends at row 10; catch-up: ends at row 29
    broadcast.frame(cells.data(), viewers);
    setCell(cells, 10, 8, 'b');  // a short move from where the shared frame ended
    broadcast.frame(cells.data(), viewers);
    slow.flush();
    EXPECT_EQ(slow.framesSkipped(), 1u);
    expectPictures({&fastLink, &slowLink}, layout, cells);
}

TEST(ShowServer, ViewersKeepTheirFramesWhateverOthersDo) {
    ServeSettings settings;
    settings.telnet = "127.0.0.1:0";
    settings.startDelayMs = 0;
    settings.maxViewersPerAddress = 7;
    settings.idleSeconds = 2;
    std::string log;
    char* logText = nullptr;
    size_t logSize = 0;
    std::FILE* logFile = open_memstream(&logText, &logSize);
    std::string error;
    {
        ShowServer server(settings, logFile);
        ASSERT_TRUE(server.open(error)) << error;
        const uint16_t port = server.telnetPort();

        Client reader(port), stalled(port, 4096), huge(port), flood(port), garbage(port),
            quitter(port), silent(port), refused(port);
        reader.negotiate("xterm-256color", 80, 50);
        stalled.negotiate("xterm", 80, 50);
        huge.negotiate("linux", 65535, 65535);
        std::string flooding;
        for (int i = 0; i < 2000; ++i) flooding += {char(IAC), char(DO), char(i % 250)};
        flood.send(flooding);
        garbage.send(std::string(300, '\xF0') + "\xFF\xFA\x18" + std::string(3000, 'x'));
        quitter.negotiate("vt100", 0, 0);

        XorshiftRandom random(5);
        std::vector<uint8_t> cells(SHOW_CELL_BYTES, 0);
        uint32_t now = 1000;
        for (int frame = 0; frame < 200; ++frame) {
            changeCells(cells, random);
            server.frame(cells.data(), now);
            server.step(now, 1);
            reader.read();
            huge.read();
            if (frame == 20) quitter.send("q and more bytes after it");
            if (frame == 30) {
                quitter.closeNow();
                garbage.closeNow();
            }
            now += 20;
        }
        // 200 frames of 20 ms: the reader got each of them (the first complete).
        EXPECT_GE(reader.frames(), 190u);
        EXPECT_GE(huge.frames(), 190u);
        EXPECT_TRUE(reader.read());
        refused.read();
        EXPECT_NE(refused.received.find("too many viewers from this address"), std::string::npos);
        EXPECT_NE(reader.received.find("xterm-256color, 80x50, 256 colours"), std::string::npos);
        EXPECT_NE(huge.received.find("linux, 65535x65535, 16 colours"), std::string::npos);
        // The one that took nothing went after its idle time; the silent one is still
        // negotiating, the flooding one is given its grace time to close.
        EXPECT_EQ(server.connectionCount(), 4u);
        server.close(now);
    }
    std::fclose(logFile);
    log.assign(logText, logSize);
    std::free(logText);
    for (const char* expected :
         {"refused: too many viewers from this address", "too much input", "ended by the viewer",
          "took nothing for 2 s", "the server stopped"}) {
        EXPECT_NE(log.find(expected), std::string::npos) << expected << " in\n" << log;
    }
}

TEST(ShowServer, SshServesAPtyAndShellAndRefusesEverythingElse) {
    char directory[] = "/tmp/vornak_ssh_test_XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    ServeSettings settings;
    settings.ssh = "127.0.0.1:0";
    settings.startDelayMs = 0;
    settings.dataDirectory = std::string(directory) + "/data";
    std::FILE* log = std::tmpfile();
    ShowServer server(settings, log);
    std::string error;
    ASSERT_TRUE(server.open(error)) << error;
    const int port = server.sshPort();

    // A client in a thread of its own; the server runs its loop here.
    std::atomic<bool> done{false};
    std::vector<std::string> failures;
    std::string shown;
    std::thread client([&] {
        const auto expect = [&](bool ok, const char* what) {
            if (!ok) failures.push_back(what);
        };
        ssh_session session = ssh_new();
        ssh_options_set(session, SSH_OPTIONS_HOST, "127.0.0.1");
        ssh_options_set(session, SSH_OPTIONS_PORT, &port);
        ssh_options_set(session, SSH_OPTIONS_USER, "anyone");
        if (ssh_connect(session) == SSH_OK &&
            ssh_userauth_none(session, nullptr) == SSH_AUTH_SUCCESS) {
            ssh_channel forward = ssh_channel_new(session);
            expect(ssh_channel_open_forward(forward, "127.0.0.1", 22, "127.0.0.1", 5555) != SSH_OK,
                   "a forwarding channel is refused");
            ssh_channel_free(forward);
            expect(ssh_channel_listen_forward(session, nullptr, 0, nullptr) != SSH_OK,
                   "remote forwarding is refused");
            ssh_channel channel = ssh_channel_new(session);
            expect(ssh_channel_open_session(channel) == SSH_OK, "a session opens");
            expect(ssh_channel_request_exec(channel, "ls") != SSH_OK, "exec is refused");
            expect(ssh_channel_request_subsystem(channel, "sftp") != SSH_OK, "sftp is refused");
            expect(ssh_channel_request_pty_size(channel, "xterm-256color", 100, 60) == SSH_OK,
                   "a pty is granted");
            expect(ssh_channel_request_shell(channel) == SSH_OK, "a shell is granted");
            char buffer[65536];
            for (int reads = 0; reads < 100 && shown.find(vt::SYNC_BEGIN) == std::string::npos;
                 ++reads) {
                const int count = ssh_channel_read_timeout(channel, buffer, sizeof buffer, 0, 100);
                if (count > 0) shown.append(buffer, size_t(count));
            }
            ssh_channel_write(channel, "q", 1);
            for (int reads = 0; reads < 100 && !ssh_channel_is_eof(channel); ++reads) {
                const int count = ssh_channel_read_timeout(channel, buffer, sizeof buffer, 0, 100);
                if (count > 0) shown.append(buffer, size_t(count));
                if (count < 0) break;
            }
            expect(ssh_channel_is_eof(channel), "q ends the show");
            ssh_channel_free(channel);
        } else {
            failures.push_back(std::string("connection: ") + ssh_get_error(session));
        }
        ssh_disconnect(session);
        ssh_free(session);
        done = true;
    });
    std::vector<uint8_t> cells(SHOW_CELL_BYTES, 0);
    XorshiftRandom random(9);
    for (uint32_t now = 0; !done && now < 30000; now += 20) {
        changeCells(cells, random);
        server.frame(cells.data(), now);
        server.step(now, 20);
    }
    client.join();
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
    EXPECT_NE(shown.find("xterm-256color, 100x60, 256 colours"), std::string::npos)
        << shown.substr(0, 300);
    EXPECT_NE(shown.find(vt::SYNC_BEGIN), std::string::npos);
    server.close(0);
    std::filesystem::remove_all(directory);
    std::fclose(log);
}
