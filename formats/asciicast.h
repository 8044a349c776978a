// Writes a terminal recording as an asciicast version 2 file (what `asciinema
// play` and the asciinema web player replay): a header line of JSON giving the
// terminal's size, type and the title, then one line [seconds, "o", text] for
// each piece of output. The bytes are the terminal's: UTF-8 passes as it is,
// JSON's special characters are escaped, a character split between two pieces
// goes out whole with the second, and bytes that are not UTF-8 become U+FFFD.
// Nothing is allocated per piece: the text goes straight into the file's buffer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

struct AsciicastHeader {
    int columns = 80;
    int rows = 50;
    std::string_view term;  // TERM of the terminal the bytes are meant for
    std::string_view title;
};

class AsciicastWriter {
  public:
    AsciicastWriter() = default;
    ~AsciicastWriter();  // an unfinished file is closed as it is: the caller removes it
    AsciicastWriter(const AsciicastWriter&) = delete;
    AsciicastWriter& operator=(const AsciicastWriter&) = delete;

    // Creates `path` and writes the header. False (see error()) on failure.
    bool open(const std::string& path, const AsciicastHeader& header);
    // Adds the bytes written to the terminal at `milliseconds` (demo time, never
    // earlier than the previous piece's). Empty pieces add nothing. False (see
    // error()) on a write failure or a time that goes back.
    bool addOutput(uint32_t milliseconds, std::string_view bytes);
    // Ends the file (an unfinished character at the end becomes U+FFFD) and
    // closes it; false (see error()) if any byte could not be written.
    bool close();

    bool isOpen() const { return file_ != nullptr; }
    const std::string& error() const { return error_; }

  private:
    bool fail(const std::string& what, int errorNumber);
    // Writes the JSON string body of the UTF-8 in `bytes`, holding back an
    // unfinished character at the end when `more` pieces follow.
    void putEscaped(std::string_view bytes, bool more);
    void putEvent(uint32_t milliseconds, std::string_view bytes, bool more);

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string error_;
    uint32_t lastTime_ = 0;
    uint8_t pending_[4] = {};  // start of a character whose last bytes have not come yet
    size_t pendingLength_ = 0;
};
