// The program's entry sequence: data module, console, message loop, orderly shutdown.
#pragma once

class TDaemonFace;

/// Runs the daemon with the given face until "Shut Down Module" (SIGTERM or SIGINT as well);
/// returns the exit status.
int RunDaemon(TDaemonFace& face);
/// Runs the daemon headless.
int RunDaemon();
