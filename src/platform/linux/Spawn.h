#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tandem::spawn {

// How to start a program with posix_spawn. Standard input is always /dev/null.
struct Request {
    std::filesystem::path program;
    std::vector<std::string> arguments; // after the program's own name
    // Full "NAME=value" entries; empty: this process's own environment.
    std::vector<std::string> environment;
    bool searchPath = false; // a bare name looked up on $PATH
    bool newSession = false; // detached from our terminal and process group
    bool newGroup = false;   // its own process group, so it and its children can be signalled together
    int output = -1;         // descriptor for standard output and error; -1: /dev/null
};

// Starts the program: 0 and its process id, or the errno that stopped it (ENOENT for a missing
// program: glibc's posix_spawn reports a failed exec).
int start(const Request& request, pid_t* pid);

// This process's environment with `extra` added, entries of the same name replaced.
std::vector<std::string> environment(char** base, const std::map<std::string, std::string>& extra);

// Reaps the process on a thread of its own when it ends, for programs nobody waits on.
void reapLater(pid_t pid);

} // namespace tandem::spawn
