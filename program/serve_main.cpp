// A stand-alone entry for the network server until the program's options offer
// it: vornak-serve [--telnet [HOST:]PORT] [--ssh [HOST:]PORT] [--max-viewers N]
//   [--max-per-address N] [--negotiation-timeout S] [--max-input-rate N]
//   [--data-dir DIR] [--user NAME]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "program/serve.h"

int main(int argc, char** argv) {
    ServeSettings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--telnet") {
            settings.telnet = value;
        } else if (name == "--ssh") {
            settings.ssh = value;
        } else if (name == "--max-viewers") {
            settings.maxViewers = std::strtoul(value, nullptr, 10);
        } else if (name == "--max-per-address") {
            settings.maxViewersPerAddress = std::strtoul(value, nullptr, 10);
        } else if (name == "--negotiation-timeout") {
            settings.negotiationSeconds = uint32_t(std::strtoul(value, nullptr, 10));
        } else if (name == "--max-input-rate") {
            settings.inputBytesPerSecond = uint32_t(std::strtoul(value, nullptr, 10));
        } else if (name == "--data-dir") {
            settings.dataDirectory = value;
        } else if (name == "--user") {
            settings.user = value;
        } else {
            std::fprintf(stderr, "vornak-serve: unknown option '%s'\n", name.c_str());
            return 1;
        }
    }
    if (argc % 2 == 0) {
        std::fprintf(stderr, "vornak-serve: '%s' needs a value\n", argv[argc - 1]);
        return 1;
    }
    return runServeMode(settings);
}
