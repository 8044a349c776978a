// The terminal's non-blocking output and its queue of bytes not yet taken.
#include "platform/posix_terminal_output.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace posix_terminal {

TerminalOutput g_output;

namespace {

std::vector<char> g_queueStorage;

}  // namespace

int64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

size_t writeUntil(const char* data, size_t size, int64_t deadlineMs) {
    size_t done = 0;
    while (done < size && !g_output.gone) {
        const ssize_t written = write(g_output.descriptor, data + done, size - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int wait = -1;
            if (deadlineMs >= 0) {
                const int64_t left = deadlineMs - monotonicMs();
                if (left <= 0) break;
                wait = static_cast<int>(left);
            }
            pollfd output = {g_output.descriptor, POLLOUT, 0};
            poll(&output, 1, wait);
            continue;
        }
        g_output.gone = 1;  // the terminal is gone; nothing more can be shown
    }
    return done;
}

bool queueEmpty() {
    return g_output.queueHead == g_output.queueTail;
}

void pumpQueue() {
    const size_t head = g_output.queueHead;
    const size_t tail = g_output.queueTail;
    if (head == tail) return;
    const size_t sent = writeUntil(g_output.queue + head, tail - head, 0);
    if (head + sent == tail || g_output.gone) {
        g_output.queueHead = 0;
        g_output.queueTail = 0;
    } else {
        g_output.queueHead = head + sent;
    }
}

void queueOutput(std::string_view bytes) {
    if (bytes.empty() || g_output.gone) return;
    size_t head = g_output.queueHead;
    size_t tail = g_output.queueTail;
    if (tail + bytes.size() > g_output.queueCapacity) {
        // Move the waiting bytes to the front, growing the storage if they still do not fit.
        std::memmove(g_output.queue, g_output.queue + head, tail - head);
        tail -= head;
        head = 0;
        if (tail + bytes.size() > g_queueStorage.size()) {
            g_queueStorage.resize(tail + bytes.size());
            g_output.queue = g_queueStorage.data();
            g_output.queueCapacity = g_queueStorage.size();
        }
    }
    std::memcpy(g_output.queue + tail, bytes.data(), bytes.size());
    g_output.queueHead = head;
    g_output.queueTail = tail + bytes.size();
    pumpQueue();
}

void sendNow(std::string_view bytes) {
    if (!queueEmpty()) {
        queueOutput(bytes);
        return;
    }
    writeUntil(bytes.data(), bytes.size(), -1);
}

void drainQueue(int64_t deadlineMs) {
    if (queueEmpty()) return;
    const size_t head = g_output.queueHead;
    const size_t sent = writeUntil(g_output.queue + head, g_output.queueTail - head, deadlineMs);
    g_output.queueHead = head + sent;
}

bool dropQueue() {
    if (queueEmpty()) return false;
    g_output.queueHead = 0;
    g_output.queueTail = 0;
    return true;
}

bool openOutput() {
    g_output.descriptor = -1;
    const char* name = ttyname(STDOUT_FILENO);
    if (name != nullptr) {
        const int fd = ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            g_output.descriptor = fd;
            g_output.ownDescriptor = true;
            g_output.flagsBefore = -1;
        }
    }
    if (g_output.descriptor < 0) {
        const int flags = fcntl(STDOUT_FILENO, F_GETFL);
        if (flags < 0 || fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) != 0) return false;
        g_output.descriptor = STDOUT_FILENO;
        g_output.ownDescriptor = false;
        g_output.flagsBefore = flags;
    }
    if (g_queueStorage.size() < 65536) g_queueStorage.resize(65536);
    g_output.queue = g_queueStorage.data();
    g_output.queueCapacity = g_queueStorage.size();
    g_output.queueHead = 0;
    g_output.queueTail = 0;
    g_output.gone = 0;
    return true;
}

void closeOutput() {
    if (g_output.ownDescriptor) {
        ::close(g_output.descriptor);
    } else if (g_output.flagsBefore >= 0) {
        fcntl(STDOUT_FILENO, F_SETFL, g_output.flagsBefore);
    }
    g_output.descriptor = -1;
    g_output.ownDescriptor = false;
    g_output.flagsBefore = -1;
}

}  // namespace posix_terminal
