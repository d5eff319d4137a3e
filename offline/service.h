// The offline program's ways of servicing a hive file, each returning the program's exit status
// (check/check.h) with any refusal told in one line on stderr that names the hive.
#pragma once

#include "check/check.h"
#include "offline/hive_file.h"

namespace endpointfix::offline {

// The check's report, or its .reg file, for the hive as it is.
int print_report(const HivePath& hive, CheckOutput output);

// Makes the changes, replacing the hive file whole (keeping it as HIVE.bak with `backup`), and
// prints the report of what was changed.
int apply_changes(const HivePath& hive, bool backup);

}  // namespace endpointfix::offline
