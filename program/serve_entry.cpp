#include "program/serve_entry.h"

#include <cstdio>

#if VORNAK_HAVE_SERVE
#include "program/serve.h"
#endif

int runServeOptions(const Options& options) {
#if VORNAK_HAVE_SERVE
    ServeSettings settings;
    settings.telnet = options.telnetAddress;
    settings.ssh = options.sshAddress;
    if (options.maxViewers) settings.maxViewers = *options.maxViewers;
    if (options.maxViewersPerAddress) settings.maxViewersPerAddress = *options.maxViewersPerAddress;
    if (options.negotiationSeconds) settings.negotiationSeconds = *options.negotiationSeconds;
    if (options.inputBytesPerSecond) settings.inputBytesPerSecond = *options.inputBytesPerSecond;
    settings.dataDirectory = options.dataDirectory;
    if (!options.serveUser.empty()) settings.user = options.serveUser;
    return runServeMode(settings);
#else
    (void)options;
    std::fprintf(stderr, "vornak: this build cannot serve the show over the network\n");
    return 1;
#endif
}
