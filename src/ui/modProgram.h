// The program on the Qt desktop: its command line, one copy per data folder, what it
// needs before it can start, the sockets' message loop run by the toolkit's loop, and
// the requests to end that arrive from outside.
#pragma once

#include <string>

class QObject;
class QWidget;

namespace quenloft {

// Why no window can be shown (no display to show it on), or empty text.
std::string MissingDisplayText();

// Lets the toolkit's main loop run the sockets' message loop: a pass whenever the latter
// has something pending, also while a modal dialog is open. Ends with `owner`.
void DriveProgramLoop(QObject* owner);

// SIGTERM, SIGINT, SIGHUP and the end of the desktop session close `mainWindow`, the same
// way as its close box does. Call once, with the application object in place.
void RouteEndRequests(QWidget* mainWindow);

// Tells the user once, in one message box, which store files start-up could not use
// and what happens to them. Nothing when start-up found none.
void TellStoreTroubles(QWidget* owner);

// The whole program: reads the command line, hands it to the copy already running for
// the same data folder if there is one, checks the display, shows the main window in
// its stopped state and runs until it is closed. `buildFolder` is the folder the program
// was built in. Returns the process's exit status.
int RunProgram(int argc, char** argv, const char* buildFolder);

} // namespace quenloft
