// vkt-datutil token: the API's bearer tokens from a shell (add, list, revoke).
#pragma once

/// `argv[1]` is "token". Exit status (datutilexit.h): ExitDone done, ExitRefused refused (a name taken
/// or unknown, no database), ExitUsage a usage error.
int RunTokenCli(int argc, char** argv);
