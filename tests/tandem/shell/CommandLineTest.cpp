#include "tandem/shell/CommandLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace tandem {
namespace {

// Standard output and error of one run, captured in memory.
struct Captured {
    int status = -1;
    bool handled = false;
    std::string out, err;
};

Captured run(std::vector<std::string> arguments, const CommandLine::SelfChecks& checks,
             const CommandLine::RenderJobs& renders = {}) {
    char *outText = nullptr, *errText = nullptr;
    size_t outSize = 0, errSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    std::FILE* err = open_memstream(&errText, &errSize);
    auto status = CommandLine::run(arguments, out, err, checks, renders);
    std::fclose(out);
    std::fclose(err);
    Captured captured{status.value_or(-1), status.has_value(), outText, errText};
    std::free(outText);
    std::free(errText);
    return captured;
}

const std::string passLines =
    "PASS: 64 routed pads match Koala's profile; the profile backs up, keeps other settings, refuses a "
    "running Koala and runs once\n"
    "PASS: 64 pad assignments, duplicate note suppression, held release across a bank change\n"
    "PASS: packed/split/running-status messages, long SysEx, separate Public/Private held selectors, Q-Link "
    "bank/contact capture\n"
    "PASS: CoreMIDI variable-length 602-byte payload plus the following packet\n"
    "PASS: measured overlay targets, move/down/up events and loop prevention; no events posted\n"
    "PASS: Koala's map gets the MPC's keys back after MIDI Learn, keeps anything else learned, never a key "
    "twice; Koala's MIDI "
    "settings set (built-in device maps off); both refuse a running Koala, back up, and have nothing to do "
    "the second time\n";

TEST(CommandLine, SelfCheckPrintsSixPassLinesAndExitsZero) {
    auto result = run({"tandem", "--self-check", "ignored", "too"}, CommandLine::SelfChecks::standard());
    EXPECT_TRUE(result.handled);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, passLines);
    EXPECT_EQ(result.err, "");
}

TEST(CommandLine, AFailingCheckStopsTheRunWhereItFails) {
    const std::string firstLine = passLines.substr(0, passLines.find('\n') + 1);
    const std::string validation = "Tandem: The operation couldn’t be completed. (Cocoa error 1570.)\n";

    auto checks = CommandLine::SelfChecks::standard();
    checks.padMapper = [] { return false; };
    auto mapper = run({"tandem", "--self-check"}, checks);
    EXPECT_EQ(mapper.status, 1);
    EXPECT_EQ(mapper.out, firstLine); // none of the four middle lines
    EXPECT_EQ(mapper.err, validation);

    checks = CommandLine::SelfChecks::standard();
    checks.mpcProfile = [] { return Result<bool>(Error{"Tandem.KoalaProfile", 1, "Disk full."}); };
    auto raised = run({"tandem", "--self-check"}, checks);
    EXPECT_EQ(raised.status, 1);
    EXPECT_EQ(raised.out, "");
    EXPECT_EQ(raised.err, "Tandem: Disk full.\n");

    checks = CommandLine::SelfChecks::standard();
    checks.pushProfile = [] { return Result<bool>(false); };
    auto push = run({"tandem", "--self-check"}, checks);
    EXPECT_EQ(push.status, 1);
    EXPECT_EQ(push.out, passLines.substr(0, passLines.rfind("PASS: Koala's map")));
    EXPECT_EQ(push.err, validation);
}

TEST(CommandLine, OtherArgumentsLeaveTheRunToTheApplication) {
    auto checks = CommandLine::SelfChecks::standard();
    EXPECT_FALSE(run({"tandem"}, checks).handled);
    EXPECT_FALSE(run({"tandem", "--render-card"}, checks).handled);
    EXPECT_FALSE(run({"tandem", "-self-check"}, checks).handled);
}

TEST(CommandLine, RenderOptionsRunTheirJobWithExactlyOnePath) {
    std::vector<std::string> ran;
    auto job = [&](const std::string& name, bool ok) {
        return [&ran, name, ok](const std::filesystem::path& path) -> Result<void> {
            ran.push_back(name + " " + path.string());
            if (!ok)
                return Error{"NSCocoaErrorDomain", 512,
                             "The file “" + path.filename().string() + "” couldn’t be saved."};
            return {};
        };
    };
    CommandLine::RenderJobs renders{job("push", true), job("icons", true), job("controls", true),
                                    job("installer", true), job("card", false)};
    auto checks = CommandLine::SelfChecks::standard();
    const std::pair<const char*, const char*> options[] = {{"--render-push", "push"},
                                                           {"--render-icon", "icons"},
                                                           {"--render-controls", "controls"},
                                                           {"--render-installer-art", "installer"}};
    for (const auto& [option, name] : options) {
        const Captured done = run({"tandem", option, "out/x"}, checks, renders);
        EXPECT_TRUE(done.handled) << option;
        EXPECT_EQ(done.status, 0) << option;
        ASSERT_FALSE(ran.empty());
        EXPECT_EQ(ran.back(), std::string(name) + " out/x");
        // One path exactly, or the application starts.
        EXPECT_FALSE(run({"tandem", option}, checks, renders).handled) << option;
        EXPECT_FALSE(run({"tandem", option, "a", "b"}, checks, renders).handled) << option;
    }
    const size_t before = ran.size();
    EXPECT_FALSE(run({"tandem", "--render-card", "a", "b"}, checks, renders).handled);
    EXPECT_EQ(ran.size(), before);

    // A failing job: its description on standard error, status 1.
    const Captured failed = run({"tandem", "--render-card", "/nowhere/card.png"}, checks, renders);
    EXPECT_TRUE(failed.handled);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "Tandem: The file “card.png” couldn’t be saved.\n");
    EXPECT_TRUE(failed.out.empty());
}

} // namespace
} // namespace tandem
