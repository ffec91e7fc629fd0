// Start-up and the message loop, shared by the entry points of every OS.
#pragma once

// Initialises the application, creates the main window from its stored
// layout, runs the message loop until the window closes, and returns 0. An
// error that escapes start-up or the loop is shown to the user; the program
// then ends, still with 0.
int RunApplication();
