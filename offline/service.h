// The offline service, which both front ends call: endpointfix-offline over a hive file, and
// endpointfix-offline-image over a hive copied out of a disk image. Each way returns the exit
// status (check/check.h) with any refusal told in one line on stderr that begins with `program`
// and names the hive as the source does (HiveSource::label).
#pragma once

#include <string>

#include "check/check.h"
#include "offline/load/hive_file.h"
#include "offline/sink/hive_sink.h"
#include "offline/options.h"

namespace endpointfix::offline {

// Each mode reads the hive as Windows loads it: a dirty hive with its logs replayed
// (offline/load/loaded_hive.h), which one line on stderr says.

// The check's report, its .reg file or its JSON document (whose "source" is the source's name),
// for the hive as Windows will hold it.
int print_report(const char* program, const HiveSource& hive, CheckOutput output);

// Makes the changes, putting the new hive through `sink` (which keeps the old one as a backup
// where the front end asked for one), and prints the report (kReport) or JSON document (kJson)
// of what was changed once the sink has it. A dirty hive is written as one clean hive, its logs'
// changes and the rules' together; with nothing to change, nothing is written. `wrote` says
// whether the sink replaced the hive.
int apply_changes(const char* program, const HiveSource& hive, HiveSink& sink, CheckOutput report,
                  bool& wrote);

// Writes the hive as Windows would load it to the new file `out`: a dirty hive with its logs
// replayed, clean; a clean one byte for byte. The hive and its logs are left as they are.
int recover_hive(const char* program, const HiveSource& hive, const std::string& out);

// The mode `options` asks for, over `hive`; --apply writes through `sink`, and sets `wrote`.
int serve(const char* program, const Options& options, const HiveSource& hive, HiveSink& sink,
          bool& wrote);

}  // namespace endpointfix::offline
