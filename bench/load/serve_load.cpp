// Load on the network server: starts it (the given program with --telnet on a
// loopback port), connects N telnet viewers at 80x50 and one that never reads,
// reads everything for S seconds with one poll loop, and prints the frames per
// second each reading viewer received (fewest, mean), the server's CPU time per
// second and its peak RSS. Frames are counted twice: as the client sees them
// (frames without a change send nothing) and as the server's log line of each
// connection says it sent and skipped them (the frames per second below).
//
//   vornak_serve_load SERVER_PROGRAM [VIEWERS=500] [SECONDS=20] [PORT=23231]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Counts frames in a byte stream: each begins with the synchronised-update marker.
struct Viewer {
    int fd = -1;
    uint16_t port = 0;       // the client's own, as the server's log names it
    double firstFrame = -1;  // seconds since the start, when the first frame arrived
    size_t matched = 0;      // bytes of the marker seen so far
    uint64_t frames = 0;
    uint64_t framesAtStart = 0;
    uint64_t bytes = 0;
};

constexpr char MARKER[] = "\x1b[?2026h";
constexpr size_t MARKER_LENGTH = sizeof MARKER - 1;

void count(Viewer& viewer, const char* data, size_t size) {
    viewer.bytes += size;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == MARKER[viewer.matched]) {
            if (++viewer.matched == MARKER_LENGTH) {
                ++viewer.frames;
                viewer.matched = 0;
            }
        } else {
            viewer.matched = data[i] == MARKER[0] ? 1 : 0;
        }
    }
}

int connectTo(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    // WILL TERMINAL-TYPE, WILL NAWS, the type and 80x50.
    const char answer[] =
        "\xff\xfb\x18\xff\xfb\x1f\xff\xfa\x18\x00xterm-256color\xff\xf0"
        "\xff\xfa\x1f\x00\x50\x00\x32\xff\xf0";
    [[maybe_unused]] const ssize_t sent = send(fd, answer, sizeof answer - 1, MSG_NOSIGNAL);
    return fd;
}

// utime + stime of a process in seconds, and its peak RSS in kB.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::vector<std::string> fields;
    size_t at = close + 2;
    while (at < text.size()) {
        const size_t space = text.find(' ', at);
        fields.push_back(text.substr(at, space - at));
        if (space == std::string::npos) break;
        at = space + 1;
    }
    if (fields.size() < 13) return 0;
    return double(std::stoull(fields[11]) + std::stoull(fields[12])) / double(sysconf(_SC_CLK_TCK));
}

long peakRssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SERVER_PROGRAM [VIEWERS] [SECONDS] [PORT]\n", argv[0]);
        return 2;
    }
    const int viewerCount = argc > 2 ? std::atoi(argv[2]) : 500;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 20;
    const uint16_t port = uint16_t(argc > 4 ? std::atoi(argv[4]) : 23231);
    signal(SIGPIPE, SIG_IGN);

    const std::string address = "127.0.0.1:" + std::to_string(port);
    char logPath[] = "/tmp/vornak_serve_load_XXXXXX";
    const int logFd = mkstemp(logPath);
    const pid_t server = fork();
    if (server == 0) {
        dup2(logFd, STDERR_FILENO);
        const std::string viewers = std::to_string(viewerCount + 10);
        execl(argv[1], argv[1], "--telnet", address.c_str(), "--max-viewers", viewers.c_str(),
              "--max-per-address", viewers.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The server renders its start-up, then listens.
    int probe = -1;
    for (int attempt = 0; attempt < 100 && probe < 0; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probe = connectTo(port);
    }
    if (probe < 0) {
        std::fprintf(stderr, "the server did not start\n");
        kill(server, SIGTERM);
        return 1;
    }
    close(probe);

    const int stalled = connectTo(port);  // never read
    std::vector<Viewer> viewers(static_cast<size_t>(viewerCount));
    for (Viewer& viewer : viewers) {
        viewer.fd = connectTo(port);
        sockaddr_in own{};
        socklen_t ownLength = sizeof own;
        getsockname(viewer.fd, reinterpret_cast<sockaddr*>(&own), &ownLength);
        viewer.port = ntohs(own.sin_port);
        if (viewer.fd < 0) {
            std::fprintf(stderr, "cannot connect viewer %zu\n", size_t(&viewer - viewers.data()));
            kill(server, SIGTERM);
            return 1;
        }
    }
    std::vector<pollfd> polls(viewers.size());
    for (size_t i = 0; i < viewers.size(); ++i) polls[i] = {viewers[i].fd, POLLIN, 0};
    std::vector<char> buffer(1 << 16);

    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    const auto since = [&] { return std::chrono::duration<double>(Clock::now() - begin).count(); };
    // Four seconds to settle (negotiation, the three-second start), then the measured time.
    const auto settle = Clock::now() + std::chrono::seconds(4);
    const auto end = settle + std::chrono::seconds(seconds);
    bool measuring = false;
    double cpuAtStart = 0;
    while (Clock::now() < end) {
        if (!measuring && Clock::now() >= settle) {
            measuring = true;
            cpuAtStart = cpuSeconds(server);
            for (Viewer& viewer : viewers) viewer.framesAtStart = viewer.frames;
        }
        if (poll(polls.data(), polls.size(), 50) <= 0) continue;
        for (size_t i = 0; i < viewers.size(); ++i) {
            if (!(polls[i].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t got = recv(viewers[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got > 0) {
                count(viewers[i], buffer.data(), size_t(got));
                if (viewers[i].firstFrame < 0 && viewers[i].frames > 0)
                    viewers[i].firstFrame = since();
            }
            if (got == 0) polls[i].events = 0;
        }
    }
    const double cpu = cpuSeconds(server) - cpuAtStart;
    const long rss = peakRssKb(server);
    kill(server, SIGTERM);
    const double stopped = since();
    int status = 0;
    waitpid(server, &status, 0);

    // The server's line for each connection: "... 127.0.0.1:PORT telnet ... N frames sent, K
    // skipped: ...".
    std::ifstream log(logPath);
    std::string line;
    std::vector<std::pair<uint64_t, uint64_t>> sent(65536, {0, 0});
    while (std::getline(log, line)) {
        const size_t colon = line.find("127.0.0.1:");
        const size_t frames = line.find(" frames sent, ");
        if (colon == std::string::npos || frames == std::string::npos) continue;
        const size_t number = line.rfind(' ', frames - 1) + 1;
        sent[std::stoul(line.substr(colon + 10))] = {std::stoull(line.substr(number)),
                                                     std::stoull(line.substr(frames + 14))};
    }
    unlink(logPath);

    uint64_t seen = UINT64_MAX, total = 0, bytes = 0, skipped = 0;
    double slowest = 1e9;
    for (const Viewer& viewer : viewers) {
        const uint64_t frames = viewer.frames - viewer.framesAtStart;
        seen = std::min(seen, frames);
        total += frames;
        bytes += viewer.bytes;
        skipped = std::max(skipped, sent[viewer.port].second);
        if (viewer.firstFrame >= 0)
            slowest =
                std::min(slowest, double(sent[viewer.port].first) / (stopped - viewer.firstFrame));
    }
    std::printf(
        "%d viewers (+1 never reading), %d s: frames/s sent to each >= %.1f, most skipped %llu; "
        "frames/s with changes seen: fewest %.1f, mean %.1f; server CPU %.3f s per second; "
        "peak RSS %ld kB; %.1f MB received\n",
        viewerCount, seconds, slowest, static_cast<unsigned long long>(skipped),
        double(seen) / seconds, double(total) / double(viewers.size()) / seconds, cpu / seconds,
        rss, double(bytes) / 1e6);
    for (Viewer& viewer : viewers) close(viewer.fd);
    close(stalled);
    return slowest >= 49 && skipped == 0 ? 0 : 1;
}
