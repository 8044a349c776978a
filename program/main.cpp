// Process entry of the vornak program: the options, then the run they ask for.
#include <cstdio>
#include <string>

#include "program/offline_run.h"
#include "program/options.h"
#include "program/play.h"
#include "program/record.h"

int main(int argc, char** argv) {
    Options options;
    std::string message;
    switch (parseOptions(argc, argv, options, message)) {
        case OptionsResult::Error:
            std::fprintf(stderr, "vornak: %s\nTry 'vornak --help' for the options.\n",
                         message.c_str());
            return 2;
        case OptionsResult::Exit:
            if (options.help) {
                std::fputs(optionsHelpText(), stdout);
            } else {
                std::fputs(optionsVersionText().c_str(), stdout);
            }
            return 0;
        case OptionsResult::Run:
            break;
    }
    if (options.digest) return runDigest(stdout);
    if (!options.recordFile.empty()) return runRecordMode(options);
    if (!options.renderDirectory.empty())
        return runRenderMode(options.renderDirectory, options.renderTimes);
    return playShow(options);
}
