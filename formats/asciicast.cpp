#include "formats/asciicast.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr char REPLACEMENT_CHARACTER[] = "\xEF\xBF\xBD";

// The length of the UTF-8 character that `bytes` (n of them) starts with: its
// length when it is whole and valid, 0 when it is not UTF-8 (overlong forms and
// surrogates included), -1 when the n bytes begin a valid character but end too soon.
int characterLength(const uint8_t* bytes, size_t n) {
    const uint8_t lead = bytes[0];
    if (lead < 0x80) return 1;
    int length;
    uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if (size_t(i) >= n) return -1;
        if (bytes[i] < low || bytes[i] > high) return 0;
        low = 0x80;
        high = 0xBF;
    }
    return length;
}

// The JSON escape of an ASCII byte, or null when it goes as it is.
const char* escapeOf(uint8_t byte, char (&buffer)[8]) {
    switch (byte) {
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        case '\n':
            return "\\n";
        case '\r':
            return "\\r";
        case '\t':
            return "\\t";
        case '\b':
            return "\\b";
        case '\f':
            return "\\f";
        default:
            break;
    }
    if (byte >= 0x20) return nullptr;
    std::snprintf(buffer, sizeof buffer, "\\u%04x", byte);
    return buffer;
}

}  // namespace

AsciicastWriter::~AsciicastWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

bool AsciicastWriter::fail(const std::string& what, int errorNumber) {
    error_ = path_ + ": " + what;
    if (errorNumber != 0) error_ += std::string(": ") + std::strerror(errorNumber);
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    return false;
}

void AsciicastWriter::putEscaped(std::string_view text, bool more) {
    if (text.data() == nullptr) text = "";  // no null pointers for memcpy and fwrite
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    size_t n = text.size(), i = 0;
    // First the character begun in the previous piece.
    if (pendingLength_ > 0) {
        uint8_t joined[4];
        std::memcpy(joined, pending_, pendingLength_);
        const size_t taken = std::min(n, sizeof joined - pendingLength_);
        std::memcpy(joined + pendingLength_, bytes, taken);
        const int length = characterLength(joined, pendingLength_ + taken);
        if (length < 0 && more) {
            std::memcpy(pending_ + pendingLength_, bytes, taken);
            pendingLength_ += taken;
            return;
        }
        if (length > 0) {
            std::fwrite(joined, 1, size_t(length), file_);
            i = size_t(length) - pendingLength_;
        } else {
            std::fputs(REPLACEMENT_CHARACTER, file_);
            if (length < 0) i = taken;  // the piece ended inside the character
        }
        pendingLength_ = 0;
    }
    size_t run = i;  // start of the bytes that go as they are
    char buffer[8];
    while (i < n) {
        const char* escape = nullptr;
        int length = characterLength(bytes + i, n - i);
        if (length == 1) {
            escape = escapeOf(bytes[i], buffer);
            if (escape == nullptr) {
                ++i;
                continue;
            }
        } else if (length > 1) {
            i += size_t(length);
            continue;
        }
        std::fwrite(bytes + run, 1, i - run, file_);
        if (length < 0 && more) {
            pendingLength_ = n - i;
            std::memcpy(pending_, bytes + i, pendingLength_);
            return;
        }
        std::fputs(escape != nullptr ? escape : REPLACEMENT_CHARACTER, file_);
        i = length < 0 ? n : i + 1;  // after an invalid byte, the next is read anew
        run = i;
    }
    std::fwrite(bytes + run, 1, n - run, file_);
}

void AsciicastWriter::putEvent(uint32_t milliseconds, std::string_view bytes, bool more) {
    std::fprintf(file_, "[%u.%03u, \"o\", \"", milliseconds / 1000, milliseconds % 1000);
    putEscaped(bytes, more);
    std::fputs("\"]\n", file_);
}

bool AsciicastWriter::open(const std::string& path, const AsciicastHeader& header) {
    if (file_ != nullptr) std::fclose(file_);
    path_ = path;
    error_.clear();
    lastTime_ = 0;
    pendingLength_ = 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return fail("cannot create the file", errno);
    std::fprintf(file_, "{\"version\": 2, \"width\": %d, \"height\": %d, \"env\": {\"TERM\": \"",
                 header.columns, header.rows);
    putEscaped(header.term, false);
    std::fputs("\"}, \"title\": \"", file_);
    putEscaped(header.title, false);
    std::fputs("\"}\n", file_);
    if (std::ferror(file_) != 0) return fail("cannot write the file", errno);
    return true;
}

bool AsciicastWriter::addOutput(uint32_t milliseconds, std::string_view bytes) {
    if (file_ == nullptr) {
        if (error_.empty()) error_ = "no cast is open";
        return false;
    }
    if (milliseconds < lastTime_) {
        return fail("output at " + std::to_string(milliseconds) + " ms comes after " +
                        std::to_string(lastTime_) + " ms",
                    0);
    }
    lastTime_ = milliseconds;
    if (bytes.empty()) return true;
    putEvent(milliseconds, bytes, true);
    if (std::ferror(file_) != 0) return fail("cannot write the file", errno);
    return true;
}

bool AsciicastWriter::close() {
    if (file_ == nullptr) {
        if (error_.empty()) error_ = "no cast is open";
        return false;
    }
    if (pendingLength_ > 0) putEvent(lastTime_, {}, false);
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) {
        return fail("cannot write the file", errno);
    }
    const int status = std::fclose(file_);
    file_ = nullptr;
    if (status != 0) return fail("cannot write the file", errno);
    return true;
}
