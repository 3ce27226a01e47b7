// vkt-datutil token and user: the API's bearer tokens and the users of its pages from a shell (add,
// list, revoke or remove).
#pragma once

/// `argv[1]` is "token" or "user". Exit status (datutilexit.h): ExitDone done, ExitRefused refused (a
/// name taken or unknown, an empty password, no database), ExitUsage a usage error.
int RunTokenCli(int argc, char** argv);
