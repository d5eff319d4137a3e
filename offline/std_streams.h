// Descriptors 0-2 held open, so that nothing the programs open later is handed one of them: a
// hive opened as descriptor 1 while stdout is closed would take the report into the hive.
#pragma once

namespace endpointfix::offline {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Called first thing, before
// anything is opened. Returns false where /dev/null cannot be opened there.
bool open_standard_streams();

}  // namespace endpointfix::offline
