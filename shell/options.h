// The program's command-line options. None are needed to run the show.
#pragma once

#include <string>

#include "platform/terminal_encoder.h"

struct Options {
    bool help = false;
    bool version = false;
    TerminalColors colors = TerminalColors::Auto;
};

enum class OptionsResult { Run, Exit, Error };

// Parses argv[1..argc-1] into `options`. On Error, `message` says what was wrong.
OptionsResult parseOptions(int argc, const char* const* argv, Options& options,
                           std::string& message);

// The text of --help.
const char* optionsHelpText();
