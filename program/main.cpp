// Process entry of the vornak program: the options, then the run they ask for.
#include <cstdio>
#include <string>

#include "program/offline_run.h"
#include "program/options.h"
#include "program/play.h"
#include "program/record.h"
#include "program/serve_entry.h"

int main(int argc, char** argv) {
    Options options;
    std::string message;
    if (parseOptions(argc, argv, options, message) == OptionsResult::Error) {
        std::fprintf(stderr, "vornak: %s\nTry 'vornak --help' for the options.\n", message.c_str());
        return 2;
    }
    switch (options.mode) {
        case RunMode::Help:
            std::fputs(optionsHelpText().c_str(), stdout);
            return 0;
        case RunMode::Version:
            std::fputs(optionsVersionText().c_str(), stdout);
            return 0;
        case RunMode::Play:
            return playShow(options);
        case RunMode::Digest:
            return runDigest(stdout);
        case RunMode::Render:
            return runRenderMode(options.renderDirectory, options.renderTimes);
        case RunMode::Record:
            return runRecordMode(options);
        case RunMode::Serve:
            return runServeOptions(options);
    }
    return 2;
}
