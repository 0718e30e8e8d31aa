#include "tandem/shell/CommandLine.h"

#include <cstdio>

// The process entry: a command-line job when one is asked for; otherwise the application, which
// for now only names itself.
int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    if (auto status = tandem::CommandLine::run(arguments)) return *status;
    std::printf("Tandem %s\n", TANDEM_VERSION);
    return 0;
}
