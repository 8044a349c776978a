#include "program/options.h"

#include <CLI/CLI.hpp>

#include <initializer_list>
#include <memory>
#include <string_view>
#include <tuple>

#include "platform/terminal_encoder.h"
#include "program/player.h"
#include "program/record.h"
#include "show/demo.h"
#include "show/timeline.h"
#if VORNAK_HAVE_SERVE
#include "serve/show_server.h"
#endif

// From the build (git describe of the sources, or "unknown").
extern const char VORNAK_SOURCE_REVISION[];

namespace {

// The pieces one after the other. (Rather than "literal" + std::string, about
// which GCC 12 at -O3 warns falsely with -Wrestrict.)
std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string result;
    for (const std::string_view piece : pieces) result.append(piece);
    return result;
}

// The options as given, checked after CLI11 has taken the command line apart.
struct GivenOptions {
    bool help = false;
    bool version = false;
    bool noSound = false;
    bool window = false;
    bool loop = false;
    bool digest = false;
    std::string colors, start, scene, render, at, record, scale, from, to;
    std::string telnet, ssh, maxViewers, maxPerAddress, negotiationTimeout, maxInputRate, dataDir,
        user;
};

// The help text: usage and description first, then the groups of options.
class HelpLayout : public CLI::Formatter {
  public:
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        std::string text = "Usage: vornak [OPTION]...\n" + app->get_description() + "\n";
        for (const std::string& group : app->get_groups()) {
            text += "\n" + group + ":\n";
            for (const CLI::Option* option :
                 app->get_options([&](const CLI::Option* o) { return o->get_group() == group; }))
                text += make_option(option, false);
        }
        return text;
    }
};

constexpr char PLAYING[] = "Playing";
constexpr char OFFLINE[] = "Offline runs, without terminal or sound, on a virtual clock";
constexpr char SERVING[] = "Serving the show to terminals over the network";
constexpr char ABOUT[] = "About";

// The options with the names of their values and their help, bound to `given`.
// Each is read at most once: a value repeated counts the last time. A missing
// value leaves the option's text empty (and is reported with our words).
void describeOptions(CLI::App& app, GivenOptions& given) {
    app.description(
        "A real-time audiovisual show in an 80x50 text terminal. Escape or q ends it;\n"
        "Space pauses, the arrows seek, i shows the position (the keys: man vornak).\n"
        "An option's value follows it as the next argument or after '='.");
    app.formatter(std::make_shared<HelpLayout>());
    app.get_formatter()->column_width(24);
    // Unknown arguments are collected and reported, --help is checked after them.
    app.allow_extras();
    app.set_help_flag();
    const auto value = [&](const char* name, std::string& target, const char* valueName,
                           const char* group, const char* help) {
        app.add_option(name, target, help)
            ->type_name(valueName)
            ->expected(0, 1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
            ->group(group);
    };
    value("--colors", given.colors, "MODE", PLAYING,
          "colour depth: truecolor, 256 or 16 (default: from\nCOLORTERM and TERM)");
    app.add_flag("--no-sound", given.noSound, "play without music")->group(PLAYING);
    app.add_flag("--window", given.window,
                 "show it in a window of its own (chosen by itself\n"
                 "when there is no terminal but a display)")
        ->group(PLAYING);
    value("--start", given.start, "T", PLAYING,
          "begin at T: milliseconds, or minutes and seconds\nas M:SS");
    value("--scene", given.scene, "N", PLAYING, "begin where scene N (1 to 7) is first shown");
    app.add_flag("--loop", given.loop, "start again after the end")->group(PLAYING);
    value("--render", given.render, "DIR", OFFLINE,
          "write DIR/T.png (console look), DIR/T-rgb.png\n"
          "(160x100 render) and the cells as T.ans (ANSI art),\n"
          "T.txt and T.html for each demo time T of --at");
    value("--at", given.at, "T1,T2,...", OFFLINE, "the demo times for --render, in milliseconds");
    app.add_flag("--digest", given.digest,
                 "run the whole show and print a hash of every frame\nand of all frames")
        ->group(OFFLINE);
    value("--record", given.record, "FILE", OFFLINE,
          "run the show and write it with its music as a\n"
          "video file: .mp4 (H.264 + AAC), .webm (VP9 + Opus)\n"
          "or .mkv (lossless FFV1 + FLAC); with --no-sound,\n"
          "without music; as a .gif clip: the exact look, no\n"
          "sound; or as a .cast: the terminal's bytes for\n"
          "asciinema in the --colors depth (default truecolor)");
    value("--scale", given.scale, "N", OFFLINE,
          "enlarge the recorded picture N times (default: 2\nfor .mp4 and .webm, 1 for .mkv and "
          ".gif)");
    value("--from", given.from, "T", OFFLINE, "record the demo times from T (ms) on");
    value("--to", given.to, "T", OFFLINE, "record the demo times before T (ms)");
    value("--telnet", given.telnet, "[HOST:]PORT", SERVING,
          "serve the show over telnet (HOST: every address)");
    value("--ssh", given.ssh, "[HOST:]PORT", SERVING,
          "serve the show over SSH: any user name, no password");
    value("--max-viewers", given.maxViewers, "N", SERVING, "connections at once (default 1000)");
    value("--max-per-address", given.maxPerAddress, "N", SERVING,
          "connections at once from one address (default 8)");
    value("--negotiation-timeout", given.negotiationTimeout, "S", SERVING,
          "seconds to agree on the terminal (default 10)");
    value("--max-input-rate", given.maxInputRate, "N", SERVING,
          "bytes per second a viewer may send (default 4096)");
    value("--data-dir", given.dataDir, "DIR", SERVING,
          "where the SSH host key is kept (default: the\nuser's data directory)");
    value("--user", given.user, "NAME", SERVING,
          "whom to run as after binding, when started as\nroot (default nobody)");
    app.add_flag("-h,--help", given.help, "show this help and exit")->group(ABOUT);
    app.add_flag("--version", given.version, "show the version and exit")->group(ABOUT);
}

// Parses "T1,T2,..." (decimal milliseconds, at most 9 digits each) into times.
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

// The whole number of `name`'s value.
bool parseNumber(const char* name, const std::string& text, uint32_t& number,
                 std::string& message) {
    std::vector<uint32_t> numbers;
    if (!parseTimes(text, numbers) || numbers.size() != 1) {
        message = joined({"'", name, "' takes a whole number, not '", text, "'"});
        return false;
    }
    number = numbers[0];
    return true;
}

// Every option given with a value has one.
bool checkValuesPresent(const CLI::App& app, const GivenOptions& given, std::string& message) {
    const std::pair<const char*, const std::string*> values[] = {
        {"--colors", &given.colors},
        {"--start", &given.start},
        {"--scene", &given.scene},
        {"--render", &given.render},
        {"--at", &given.at},
        {"--record", &given.record},
        {"--scale", &given.scale},
        {"--from", &given.from},
        {"--to", &given.to},
        {"--telnet", &given.telnet},
        {"--ssh", &given.ssh},
        {"--max-viewers", &given.maxViewers},
        {"--max-per-address", &given.maxPerAddress},
        {"--negotiation-timeout", &given.negotiationTimeout},
        {"--max-input-rate", &given.maxInputRate},
        {"--data-dir", &given.dataDir},
        {"--user", &given.user}};
    for (const auto& [name, text] : values) {
        if (app.count(name) > 0 && text->empty()) {
            message = joined({"'", name, "' needs a value"});
            return false;
        }
    }
    return true;
}

// "T" in milliseconds or "M:SS" into demo time ms; false when it is neither.
bool parseStartTime(std::string_view text, uint32_t& ms) {
    const size_t colon = text.find(':');
    std::vector<uint32_t> numbers;
    if (colon == std::string_view::npos) {
        if (!parseTimes(text, numbers) || numbers.size() != 1) return false;
        ms = numbers[0];
        return true;
    }
    const std::string_view seconds = text.substr(colon + 1);
    uint32_t minutes = 0;
    if (seconds.size() != 2 || !parseTimes(text.substr(0, colon), numbers) || numbers.size() != 1 ||
        numbers[0] > 1000)
        return false;
    minutes = numbers[0];
    if (!parseTimes(seconds, numbers) || numbers.size() != 1 || numbers[0] > 59) return false;
    ms = (minutes * 60 + numbers[0]) * 1000;
    return true;
}

// Where the live show begins, from --start or --scene.
bool readStart(const GivenOptions& given, Options& options, std::string& message) {
    if (!given.start.empty() && !given.scene.empty()) {
        message = "'--start' and '--scene' each say where to begin: give one of them";
        return false;
    }
    if (!given.start.empty()) {
        if (!parseStartTime(given.start, options.start)) {
            message = joined({"'--start' takes milliseconds or M:SS, like 90000 or 1:30, not '",
                              given.start, "'"});
            return false;
        }
        if (options.start > DEMO_END_MS) {
            message = joined({"'--start ", given.start, "' is beyond the end of the show (2:53)"});
            return false;
        }
    }
    if (!given.scene.empty()) {
        uint32_t scene = 0;
        std::vector<uint32_t> numbers;
        if (parseTimes(given.scene, numbers) && numbers.size() == 1) scene = numbers[0];
        if (scene < 1 || scene > uint32_t(SHOW_SCENE_COUNT)) {
            message =
                joined({"'--scene' takes a scene number from 1 to 7, not '", given.scene, "'"});
            return false;
        }
        options.start = gridTimeAtOrAfter(sceneStart(int(scene)));
    }
    options.loop = given.loop;
    return true;
}

// The serving options' values, into `options`.
bool readServeValues(const GivenOptions& given, Options& options, std::string& message) {
    for (const auto& [name, address, target] :
         {std::tuple{"--telnet", &given.telnet, &options.telnetAddress},
          std::tuple{"--ssh", &given.ssh, &options.sshAddress}}) {
        if (address->empty()) continue;
#if VORNAK_HAVE_SERVE
        std::string host;
        uint16_t port = 0;
        if (!parseListenAddress(*address, host, port)) {
            message = joined({"'", name, "' takes [HOST:]PORT, not '", *address, "'"});
            return false;
        }
#endif
        *target = *address;
    }
    for (const auto& [name, text, target] :
         {std::tuple{"--max-viewers", &given.maxViewers, &options.maxViewers},
          std::tuple{"--max-per-address", &given.maxPerAddress, &options.maxViewersPerAddress},
          std::tuple{"--negotiation-timeout", &given.negotiationTimeout,
                     &options.negotiationSeconds},
          std::tuple{"--max-input-rate", &given.maxInputRate, &options.inputBytesPerSecond}}) {
        if (text->empty()) continue;
        uint32_t number = 0;
        if (!parseNumber(name, *text, number, message)) return false;
        if (number == 0) {
            message = joined({"'", name, "' takes a number above 0"});
            return false;
        }
        *target = number;
    }
    options.dataDirectory = given.dataDir;
    options.serveUser = given.user;
    return true;
}

// The values themselves, into `options`.
bool readValues(const CLI::App& app, const GivenOptions& given, Options& options,
                std::string& message) {
    TerminalColors colors;
    if (app.count("--colors") > 0 && !parseTerminalColors(given.colors, colors)) {
        message = joined(
            {"unknown colour depth in '--colors=", given.colors, "' (use truecolor, 256 or 16)"});
        return false;
    }
    options.colors = given.colors;
    options.noSound = given.noSound;
    options.window = given.window;
    if (!readStart(given, options, message)) return false;
    options.renderDirectory = given.render;
    if (!given.at.empty() && !parseTimes(given.at, options.renderTimes)) {
        message = "'--at' takes demo times in milliseconds, like 0,1000,38388";
        return false;
    }
    options.recordFile = given.record;
    if (!given.scale.empty()) {
        uint32_t scale = 0;
        if (!parseNumber("--scale", given.scale, scale, message)) return false;
        if (scale < 1 || scale > RECORD_MAX_SCALE) {
            message = joined({"'--scale' takes 1 to ", std::to_string(RECORD_MAX_SCALE)});
            return false;
        }
        options.recordScale = int(scale);
    }
    if (!given.from.empty() && !parseNumber("--from", given.from, options.recordFrom, message))
        return false;
    if (!given.to.empty() && !parseNumber("--to", given.to, options.recordTo, message))
        return false;
    return readServeValues(given, options, message);
}

// The one run the options ask for; more than one is an error.
bool chooseRunMode(const GivenOptions& given, Options& options, std::string& message) {
    const bool render = !given.render.empty();
    const bool record = !given.record.empty();
    if (render != !given.at.empty()) {
        message = "'--render DIR' and '--at T1,T2,...' go together";
        return false;
    }
    if (given.window && (given.digest || render || record)) {
        message =
            "'--window' shows the live show; '--digest', '--render' and '--record' run "
            "without one";
        return false;
    }
    if (given.digest && render) {
        message = "'--digest' and '--render' are separate runs";
        return false;
    }
    if (record && (given.digest || render)) {
        message = "'--record' is a run of its own, without '--digest' or '--render'";
        return false;
    }
    if (!record && (!given.scale.empty() || !given.from.empty() || !given.to.empty())) {
        message = "'--scale', '--from' and '--to' go with '--record FILE'";
        return false;
    }
    const bool serve = !given.telnet.empty() || !given.ssh.empty();
    const bool placed = !given.start.empty() || !given.scene.empty() || given.loop;
    if (placed && (given.digest || render || record || serve)) {
        message = "'--start', '--scene' and '--loop' go with the live show";
        return false;
    }
    if (serve && (given.window || given.digest || render || record)) {
        message =
            "'--telnet' and '--ssh' serve the show on their own, without '--window', "
            "'--digest', '--render' or '--record'";
        return false;
    }
    const bool limits = !given.maxViewers.empty() || !given.maxPerAddress.empty() ||
                        !given.negotiationTimeout.empty() || !given.maxInputRate.empty() ||
                        !given.dataDir.empty() || !given.user.empty();
    if (!serve && limits) {
        message =
            "'--max-viewers', '--max-per-address', '--negotiation-timeout', "
            "'--max-input-rate', '--data-dir' and '--user' go with '--telnet' or '--ssh'";
        return false;
    }
    options.mode = given.digest ? RunMode::Digest
                   : render     ? RunMode::Render
                   : record     ? RunMode::Record
                   : serve      ? RunMode::Serve
                                : RunMode::Play;
    return true;
}

// The file and stretch of a recording.
bool checkRecording(const Options& options, std::string& message) {
    VideoContainer container;
    if (!videoContainerForFile(options.recordFile, container)) {
        message = joined({"cannot record to '", options.recordFile, "': the file name must end in ",
                          supportedVideoExtensions()});
        return false;
    }
    if (container == VideoContainer::Cast && options.recordScale != 0) {
        message = "'--scale' enlarges pictures; a .cast holds terminal text";
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
    CLI::App app;
    GivenOptions given;
    describeOptions(app, given);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        message = error.what();
        return OptionsResult::Error;
    }
    if (!app.remaining().empty()) {
        message = joined({"unknown option '", app.remaining().front(), "'"});
        return OptionsResult::Error;
    }
    if (given.help || given.version) {
        options.mode = given.help ? RunMode::Help : RunMode::Version;
        return OptionsResult::Run;
    }
    if (!checkValuesPresent(app, given, message) || !readValues(app, given, options, message) ||
        !chooseRunMode(given, options, message))
        return OptionsResult::Error;
    if (options.mode == RunMode::Record && !checkRecording(options, message))
        return OptionsResult::Error;
    return OptionsResult::Run;
}

std::string optionsHelpText() {
    CLI::App app;
    GivenOptions given;
    describeOptions(app, given);
    return app.help();
}

std::string optionsVersionText() {
    return joined({"vornak ", VORNAK_VERSION, " (source revision ", VORNAK_SOURCE_REVISION, ")\n"});
}
