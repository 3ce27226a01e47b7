// vkt-datutil apply and export: a daemon's sites kept as a YAML file.
#pragma once

#include <string>

/// The usage lines of the two commands.
extern const char* const kSitesUsage;

/// Whether `command` is "apply" or "export".
bool IsSitesCommand(const std::string& command);

/// Runs `vkt-datutil apply FILE [--dry-run] [--prune [--yes]]` or `vkt-datutil export --daemon ID`
/// (argv[1] is the command). Exit status (datutilexit.h): ExitDone applied, nothing to do or exported;
/// ExitRefused refused (the file, its line and field named on stderr) or the database failed;
/// ExitUsage a usage error; ExitPending a dry run that found changes to make. --prune deletes every
/// site of the daemon only with --yes.
int RunSitesCommand(int argc, char** argv);
