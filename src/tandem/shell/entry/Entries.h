#pragma once

namespace tandem {

// The application on this machine's own services: the menus, the choice window, the cards, Koala and
// the controllers as they are. Needs a graphical session; returns the exit status.
int runApplication(int& argc, char** argv);

// The application on the simulated Mac with the "Tandem rig" window beside it, in real time. Its home
// folder is a folder of its own (printed; `fresh` empties it first), so the user's Koala files and log
// are never touched.
int runSimulation(int& argc, char** argv, bool fresh);

} // namespace tandem
