// The exit codes of every vkt-datutil command, in one table.
#pragma once

/// The command did what it was asked.
inline constexpr int ExitDone = 0;
/// Refused: the database was not reached, a check failed or the operator declined.
inline constexpr int ExitRefused = 1;
/// backup, restore, clear, info: not every table was done (the same number as a refusal).
inline constexpr int ExitIncomplete = ExitRefused;
/// The arguments are wrong; usage is printed on stderr.
inline constexpr int ExitUsage = 2;
/// apply --dry-run: the plan is not empty. The same number as a usage error, which prints no plan.
inline constexpr int ExitPending = ExitUsage;
