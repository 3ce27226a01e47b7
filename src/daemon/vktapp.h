// The program's entry sequence: data module, console, message loop, orderly shutdown.
#pragma once

/// Runs the daemon until "Shut Down Module" (SIGTERM or SIGINT headless); returns the exit status.
int RunDaemon();
