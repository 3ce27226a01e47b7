// The command-line face of the Data Utilities: reads the arguments, connects to the database and runs
// the command. The table commands drive the data utilities' controller, which the program hands in.
#pragma once

#include <functional>
#include <string>
#include <vector>

class TVKTDataModule;

/// backup, restore, clear or info, on the tables named or on all of them.
struct DatUtilTableArgs {
    std::string Command;
    std::vector<std::string> Tables;
    bool All = false;
    bool Yes = false;
};

/// Runs a table command on the connected data module; returns the exit status.
using DatUtilTableRunner = std::function<int(TVKTDataModule& dm, const DatUtilTableArgs& args)>;

/// Exit status (datutilexit.h): ExitDone everything asked for was done, ExitIncomplete a table was
/// skipped or a record not restored, ExitRefused the database could not be reached or a clear was
/// declined, ExitUsage a usage error.
int RunDatUtilCli(int argc, char** argv, const DatUtilTableRunner& runTables);
