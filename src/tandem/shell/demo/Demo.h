#pragma once

#include <cstdio>
#include <filesystem>

namespace tandem::Demo {

// Tandem on the simulated Mac, headless and in virtual time, from nothing installed to playing Koala
// from the MPC Touch (with a Webcam recording of it), then from the Push 2. Prints every step, status
// line and note Koala heard with its virtual time, writes "card-main.png", "card-mpc.png",
// "mpc-screen.png", "webcam.mp4", "webcam-window.png" and "push2-display.png" into `folder`, and ends
// "Demo OK". Returns the exit status: 1, naming the first expected event that
// did not come. Needs a QApplication (for the pictures and the Webcam window). Never touches the real home
// folder: the simulated Mac lives in a scratch folder for the run.
int run(const std::filesystem::path& folder, std::FILE* out, std::FILE* err);

} // namespace tandem::Demo
