// The offline program's ways of servicing a hive file, each returning the program's exit status
// (check/check.h) with any refusal told in one line on stderr that names the hive.
#pragma once

#include "check/check.h"
#include "offline/hive_file.h"

namespace endpointfix::offline {

// Each mode reads the hive as Windows loads it: a dirty hive with its logs replayed
// (offline/loaded_hive.h), which one line on stderr says.

// The check's report, its .reg file or its JSON document, for the hive as Windows will hold it.
int print_report(const HivePath& hive, CheckOutput output);

// Makes the changes, replacing the hive file whole (keeping it as HIVE.bak with `backup`), and
// prints the report (kReport) or JSON document (kJson) of what was changed. A dirty hive is
// written as one clean hive, its logs' changes and the rules' together; with nothing to change,
// nothing is written.
int apply_changes(const HivePath& hive, bool backup, CheckOutput report);

// Writes the hive as Windows would load it to the new file `out`: a dirty hive with its logs
// replayed, clean; a clean one byte for byte. The hive and its logs are left as they are.
int recover_hive(const HivePath& hive, const std::string& out);

}  // namespace endpointfix::offline
