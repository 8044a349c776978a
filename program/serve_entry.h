// The serving run that the options ask for (--telnet, --ssh), in the builds that
// have the network server.
#pragma once

#include "program/options.h"

// Serves the show as `options` ask; returns the process exit status (1, with a
// line saying so, in a build without the server).
int runServeOptions(const Options& options);
