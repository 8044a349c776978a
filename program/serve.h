// `vornak --telnet [HOST:]PORT`: one show, looping from its end to its start on
// the real clock, served to every terminal that connects (see serve/).
#pragma once

#include "serve/show_server.h"

// Binds, drops root's privileges, starts the show and serves it until SIGINT,
// SIGTERM or SIGHUP. Returns the process exit status.
int runServeMode(const ServeSettings& settings);
