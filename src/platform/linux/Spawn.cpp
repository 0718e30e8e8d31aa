#include "platform/linux/Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace tandem::spawn {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings)
        result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

int start(const Request& request, pid_t* pid) {
    std::vector<std::string> argumentStrings{request.program.string()};
    argumentStrings.insert(argumentStrings.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv = pointers(argumentStrings);
    std::vector<std::string> environmentStrings = request.environment;
    std::vector<char*> envp = pointers(environmentStrings);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (request.output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, request.output, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, 1, 2);

    // Signals this process ignores or blocks would otherwise stay so in the program.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (request.newSession) {
        flags |= POSIX_SPAWN_SETSID;
    } else if (request.newGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    posix_spawnattr_setflags(&attributes, flags);

    char** env = request.environment.empty() ? environ : envp.data();
    const std::string program = request.program.string();
    int result = request.searchPath
                     ? posix_spawnp(pid, program.c_str(), &actions, &attributes, argv.data(), env)
                     : posix_spawn(pid, program.c_str(), &actions, &attributes, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return result;
}

std::vector<std::string> environment(char** base, const std::map<std::string, std::string>& extra) {
    std::vector<std::string> result;
    for (char** entry = base; entry && *entry; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        if (!extra.count(name)) result.push_back(std::move(text));
    }
    for (const auto& [name, value] : extra)
        result.push_back(name + "=" + value);
    return result;
}

void reapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace tandem::spawn
