#include "shell/options.h"

#include <string_view>

namespace {

constexpr std::string_view COLORS_PREFIX = "--colors=";

bool parseColors(std::string_view value, TerminalColors& colors) {
    if (value == "truecolor") {
        colors = TerminalColors::TrueColor;
    } else if (value == "256") {
        colors = TerminalColors::Palette256;
    } else if (value == "16") {
        colors = TerminalColors::Ansi16;
    } else {
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
            if (!parseColors(arg.substr(COLORS_PREFIX.size()), options.colors)) {
                message =
                    "unknown colour depth in '" + std::string(arg) + "' (use truecolor, 256 or 16)";
                return OptionsResult::Error;
            }
        } else {
            message = "unknown option '" + std::string(arg) + "'";
            return OptionsResult::Error;
        }
    }
    return options.help || options.version ? OptionsResult::Exit : OptionsResult::Run;
}

const char* optionsHelpText() {
    return "Usage: vornak [OPTION]...\n"
           "A real-time audiovisual show in an 80x50 text terminal. Escape ends it.\n"
           "\n"
           "  --colors=MODE  colour depth: truecolor, 256 or 16 (default: from COLORTERM and "
           "TERM)\n"
           "  --help         show this help and exit\n"
           "  --version      show the version and exit\n";
}
