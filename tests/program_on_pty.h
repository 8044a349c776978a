// The child's side of starting the built program on a pseudo-terminal: the
// terminal becomes its controlling terminal and standard streams, then the
// program runs from the build folder, where it finds its music.
#pragma once

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

// `environment` holds NAME=VALUE to set or NAME alone to unset. Never returns.
[[noreturn]] inline void execProgramOnTerminal(int master, int slave,
                                               const std::vector<std::string>& environment,
                                               std::vector<std::string> arguments) {
    close(master);
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    dup2(slave, STDERR_FILENO);
    for (const std::string& setting : environment) {
        const size_t equals = setting.find('=');
        if (equals == std::string::npos) {
            unsetenv(setting.c_str());
        } else {
            setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
        }
    }
    const std::string program = VORNAK_BINARY_DIR "/vornak";
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (chdir(VORNAK_BINARY_DIR) == 0) execv(program.c_str(), argv.data());
    _exit(127);
}
