// The offline service, which both front ends call: endpointfix-offline over a hive file, and
// endpointfix-offline-image over a hive copied out of a disk image.
#pragma once

#include "check/check.h"
#include "offline/load/hive_file.h"
#include "offline/sink/hive_sink.h"
#include "offline/options.h"

namespace endpointfix::offline {

// The mode `options` asks for, over `hive`, read as Windows loads it: a dirty hive with its logs
// replayed (offline/load/loaded_hive.h), which one line on stderr says. The report, --reg and
// --json print the check's output (--json's "source" is the source's name); --apply makes the
// changes through `sink`, which keeps the old hive as a backup where the front end asked for one,
// then prints the report of what was changed; --recover writes the hive as Windows would load it
// to the new file OUT. Returns the exit status (check/check.h), with any refusal told in one
// line on stderr that begins with `program` and names the hive as the source does
// (HiveSource::label).
int serve(const char* program, const Options& options, const HiveSource& hive, HiveSink& sink);

// One line on stderr, "PROGRAM: NAME: WHAT", escaped whatever the names in it hold: how every
// front end tells a refusal or a note.
void say(const char* program, const std::string& name, const std::string& what);

}  // namespace endpointfix::offline
