#include "program/options.h"

#include <initializer_list>
#include <string_view>

#include "platform/terminal_encoder.h"
#include "program/record.h"

// From the build (git describe of the sources, or "unknown").
extern const char VORNAK_SOURCE_REVISION[];

namespace {

constexpr std::string_view COLORS_PREFIX = "--colors=";

// The pieces one after the other. (Rather than "literal" + std::string, about
// which GCC 12 at -O3 warns falsely with -Wrestrict.)
std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string result;
    for (const std::string_view piece : pieces) result.append(piece);
    return result;
}

// Parses "T1,T2,..." (decimal milliseconds) into times.
bool parseTimes(std::string_view list, std::vector<uint32_t>& times) {
    times.clear();
    while (true) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        if (item.empty() || item.size() > 9) return false;
        uint32_t value = 0;
        for (const char c : item) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + uint32_t(c - '0');
        }
        times.push_back(value);
        if (comma == std::string_view::npos) return true;
        list.remove_prefix(comma + 1);
    }
}

// The values of --record, --scale, --from and --to.
bool parseRecordValue(std::string_view arg, std::string_view value, Options& options,
                      std::string& message) {
    if (arg == "--record") {
        options.recordFile = value;
        return true;
    }
    std::vector<uint32_t> number;
    if (!parseTimes(value, number) || number.size() != 1) {
        message = joined({"'", arg, "' takes a whole number, not '", value, "'"});
        return false;
    }
    if (arg == "--scale") {
        if (number[0] < 1 || number[0] > RECORD_MAX_SCALE) {
            message = joined({"'--scale' takes 1 to ", std::to_string(RECORD_MAX_SCALE)});
            return false;
        }
        options.recordScale = int(number[0]);
    } else if (arg == "--from") {
        options.recordFrom = number[0];
    } else {
        options.recordTo = number[0];
    }
    return true;
}

bool checkRecordOptions(const Options& options, std::string& message) {
    if (options.recordFile.empty()) {
        if (options.recordScale != 0 || options.recordFrom != 0 || options.recordTo != UINT32_MAX) {
            message = "'--scale', '--from' and '--to' go with '--record FILE'";
            return false;
        }
        return true;
    }
    if (options.digest || !options.renderDirectory.empty()) {
        message = "'--record' is a run of its own, without '--digest' or '--render'";
        return false;
    }
    VideoContainer container;
    if (!videoContainerForFile(options.recordFile, container)) {
        message = joined({"cannot record to '", options.recordFile,
                          "': the file name must end in ", supportedVideoExtensions()});
        return false;
    }
    uint32_t firstTime = 0;
    uint32_t lastTime = 0;
    if (!recordStretch(options.recordFrom, options.recordTo, firstTime, lastTime)) {
        message = "no frame of the show lies from '--from' to before '--to'";
        return false;
    }
    return true;
}

}  // namespace

OptionsResult parseOptions(int argc, const char* const* argv, Options& options,
                           std::string& message) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg.starts_with(COLORS_PREFIX)) {
            options.colors = arg.substr(COLORS_PREFIX.size());
            TerminalColors colors;
            if (options.colors.empty() || !parseTerminalColors(options.colors, colors)) {
                message =
                    joined({"unknown colour depth in '", arg, "' (use truecolor, 256 or 16)"});
                return OptionsResult::Error;
            }
        } else if (arg == "--no-sound") {
            options.noSound = true;
        } else if (arg == "--window") {
            options.window = true;
        } else if (arg == "--digest") {
            options.digest = true;
        } else if (arg == "--render" || arg == "--at") {
            if (i + 1 >= argc || argv[i + 1][0] == 0) {
                message = joined({"'", arg, "' needs a value"});
                return OptionsResult::Error;
            }
            const std::string_view value = argv[++i];
            if (arg == "--render") {
                options.renderDirectory = value;
            } else if (!parseTimes(value, options.renderTimes)) {
                message = "'--at' takes demo times in milliseconds, like 0,1000,38388";
                return OptionsResult::Error;
            }
        } else if (arg == "--record" || arg == "--scale" || arg == "--from" || arg == "--to") {
            if (i + 1 >= argc || argv[i + 1][0] == 0) {
                message = joined({"'", arg, "' needs a value"});
                return OptionsResult::Error;
            }
            if (!parseRecordValue(arg, argv[++i], options, message)) return OptionsResult::Error;
        } else {
            message = joined({"unknown option '", arg, "'"});
            return OptionsResult::Error;
        }
    }
    if (options.help || options.version) return OptionsResult::Exit;
    if (options.renderDirectory.empty() != options.renderTimes.empty()) {
        message = "'--render DIR' and '--at T1,T2,...' go together";
        return OptionsResult::Error;
    }
    if (options.window && (options.digest || !options.renderDirectory.empty())) {
        message = "'--window' shows the live show; '--digest' and '--render' run without one";
        return OptionsResult::Error;
    }
    if (options.digest && !options.renderDirectory.empty()) {
        message = "'--digest' and '--render' are separate runs";
        return OptionsResult::Error;
    }
    if (!checkRecordOptions(options, message)) return OptionsResult::Error;
    return OptionsResult::Run;
}

const char* optionsHelpText() {
    return "Usage: vornak [OPTION]...\n"
           "A real-time audiovisual show in an 80x50 text terminal. Escape ends it.\n"
           "\n"
           "  --colors=MODE        colour depth: truecolor, 256 or 16 (default: from COLORTERM\n"
           "                       and TERM)\n"
           "  --no-sound           play without music\n"
           "  --window             show it in a window of its own (chosen by itself when\n"
           "                       there is no terminal but a display)\n"
           "  --render DIR --at T1,T2,...\n"
           "                       no terminal, no sound: run the show on a virtual clock and\n"
           "                       write DIR/T.png (console look) and DIR/T-rgb.png (160x100\n"
           "                       render) for each demo time T in milliseconds\n"
           "  --digest             no terminal, no sound: run the whole show on a virtual\n"
           "                       clock and print a hash of every frame and of all frames\n"
           "  --record FILE        no terminal, no sound device: run the whole show on a\n"
           "                       virtual clock and write it with its music as a video\n"
           "                       file: .mp4 (H.264 + AAC), .webm (VP9 + Opus) or .mkv\n"
           "                       (lossless FFV1 + FLAC); with --no-sound, without music\n"
           "  --scale N            enlarge the recorded picture N times (default: 2 for\n"
           "                       .mp4 and .webm, 1 for .mkv)\n"
           "  --from T, --to T     record only the demo times from T to before T (ms)\n"
           "  --help               show this help and exit\n"
           "  --version            show the version and exit\n";
}

std::string optionsVersionText() {
    return joined({"vornak ", VORNAK_VERSION, " (source revision ", VORNAK_SOURCE_REVISION, ")\n"});
}
