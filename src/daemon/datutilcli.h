// The command-line face of the Data Utilities: the same controller, driven by arguments, with the Log
// on stderr, a progress bar when stderr is a terminal and the information grid on stdout.
#pragma once

/// Exit status: 0 everything asked for was done, 1 a table was skipped or a record not restored
/// (or the database could not be reached), 2 a usage error.
int RunDatUtilCli(int argc, char** argv);
