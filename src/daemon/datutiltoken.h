// vkt-datutil token: the API's bearer tokens from a shell (add, list, revoke).
#pragma once

/// `argv[1]` is "token". Exit status: 0 done, 1 refused (a name taken or unknown, no database),
/// 2 a usage error.
int RunTokenCli(int argc, char** argv);
