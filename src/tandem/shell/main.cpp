#include <cstdio>

// The process entry. Until the command-line jobs and the application exist it only names itself.
int main() {
    std::printf("Tandem %s\n", TANDEM_VERSION);
    return 0;
}
