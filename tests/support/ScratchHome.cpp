#include "support/ScratchHome.h"

#include "base/Uuid.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tandem::testing {

ScratchHome::ScratchHome()
    : folder(std::filesystem::temp_directory_path() / ("tandem-home-" + Uuid::make())) {
    std::filesystem::create_directories(folder);
    if (const char* home = std::getenv("HOME")) {
        previous = home;
        hadPrevious = true;
    }
    setenv("HOME", folder.c_str(), 1);
}

ScratchHome::~ScratchHome() {
    if (hadPrevious) {
        setenv("HOME", previous.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
    std::error_code error;
    std::filesystem::remove_all(folder, error);
}

std::string ScratchHome::read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void ScratchHome::write(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace tandem::testing
