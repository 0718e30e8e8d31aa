// The process entry: a command-line job when one is asked for; the demo or the simulated Mac when
// asked; otherwise the application.
#include "tandem/shell/CommandLine.h"
#include "tandem/shell/demo/Demo.h"
#include "tandem/shell/entry/Entries.h"
#include "tandem/shell/qt/RenderJobs.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

bool hasDisplay() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv) {
    using namespace tandem;
    std::vector<std::string> arguments(argv, argv + argc);

    // The render jobs draw: a graphics application, offscreen without a display, made for the job.
    std::unique_ptr<QGuiApplication> graphics;
    auto drawing = [&](Result<void> (*job)(const std::filesystem::path&)) {
        return [&graphics, &argc, argv, job](const std::filesystem::path& path) {
            if (!graphics) {
                if (!hasDisplay()) qputenv("QT_QPA_PLATFORM", "offscreen");
                graphics = std::make_unique<QGuiApplication>(argc, argv);
            }
            return job(path);
        };
    };
    CommandLine::RenderJobs renders{drawing(RenderJobs::renderPush), drawing(RenderJobs::renderIcons),
                                    drawing(RenderJobs::renderControls),
                                    drawing(RenderJobs::renderInstallerArt), drawing(RenderJobs::renderCard)};
    if (auto status =
            CommandLine::run(arguments, stdout, stderr, CommandLine::SelfChecks::standard(), renders))
        return *status;

    if (arguments.size() >= 2 && arguments[1] == "--demo") {
        // Headless and in virtual time; its pictures and the Webcam window need a widgets application,
        // never a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication application(argc, argv);
        return Demo::run(arguments.size() >= 3 ? arguments[2] : "demo", stdout, stderr);
    }
    if (arguments.size() >= 2 && arguments[1] == "--simulate") {
        const bool fresh = arguments.size() >= 3 && arguments[2] == "--fresh";
        return runSimulation(argc, argv, fresh);
    }
    return runApplication(argc, argv);
}
