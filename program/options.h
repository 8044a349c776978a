// The program's command-line options. None are needed to run the show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the program does, chosen once from the options.
enum class RunMode {
    Play,     // the show in the terminal or a window, with its music (the default)
    Digest,   // --digest: a hash of every frame, printed
    Render,   // --render DIR --at T1,T2,...: pictures of moments
    Record,   // --record FILE: a video file of the show
    Serve,    // --telnet / --ssh [HOST:]PORT: the show for terminals over the network
    Help,     // --help
    Version,  // --version
};

struct Options {
    RunMode mode = RunMode::Play;
    std::string colors;  // --colors MODE: truecolor, 256 or 16; empty: the terminal decides
    bool noSound = false;
    bool window = false;  // --window: show it in a window of its own, not in the terminal
    // Where the live show begins (--start T or --scene N; demo time in ms) and
    // whether it starts again after the end (--loop).
    uint32_t start = 0;
    bool loop = false;
    // The offline runs, on the virtual clock, without terminal or sound.
    std::string renderDirectory;        // --render DIR: write images of the moments in renderTimes
    std::vector<uint32_t> renderTimes;  // --at T1,T2,...: demo times in ms
    // --record FILE: the show written as a video file with its music (program/record.h).
    std::string recordFile;
    int recordScale = 0;             // --scale N: picture enlargement; 0: the container's default
    uint32_t recordFrom = 0;         // --from T: first demo time recorded (ms)
    uint32_t recordTo = UINT32_MAX;  // --to T: recording ends before this demo time (ms)
    // --telnet / --ssh [HOST:]PORT: serving the show (program/serve.h); the limits
    // left out keep the server's defaults.
    std::string telnetAddress;
    std::string sshAddress;
    std::optional<uint32_t> maxViewers;            // --max-viewers N
    std::optional<uint32_t> maxViewersPerAddress;  // --max-per-address N
    std::optional<uint32_t> negotiationSeconds;    // --negotiation-timeout S
    std::optional<uint32_t> inputBytesPerSecond;   // --max-input-rate N
    std::string dataDirectory;                     // --data-dir DIR: the SSH host key
    std::string serveUser;                         // --user NAME: after binding as root
};

enum class OptionsResult { Run, Error };

// Parses argv[1..argc-1] into `options`; a value follows its option as the next
// argument or after '='. On Error, `message` says what was wrong.
OptionsResult parseOptions(int argc, const char* const* argv, Options& options,
                           std::string& message);

// The text of --help.
std::string optionsHelpText();

// The text of --version: the version and the source revision it was built from.
std::string optionsVersionText();
