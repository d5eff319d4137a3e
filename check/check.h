// The check: a dry run of the program's own run sequence over the registry, printed as it goes,
// with an exit status that says what the run would do.
#pragma once

#include <cstdint>
#include <cstdio>

#include "registry/registry_store.h"
#include "registry/store_inspector.h"

namespace endpointfix {

// Exit statuses of the check program.
inline constexpr int kNothingToChange = 0;
inline constexpr int kChangesPending = 1;       // and this account may make them all
inline constexpr int kBlockedOrUnreadable = 2;  // a change is blocked, or the store unreadable
inline constexpr int kUsage = 3;

enum class CheckOutput { kReport, kRegFile };

// Runs the check over `registry` (seen through `inspector` too) and prints to `out`, changing
// nothing. The report has a block for each endpoint a rule acts on: a line with the pass, the
// endpoint key and its description, then a line for each value the act reads or writes, with
// its content and what the run would do to it; and last a one-line summary, which also counts the
// endpoints no rule matched and the keys and values that could not be read. The .reg file holds exactly the pending changes, blocked ones
// included, so that importing it makes the changes a run would. Returns the exit status.
int run_check(RegistryStore& registry, StoreInspector& inspector, std::FILE* out,
              CheckOutput output);

}  // namespace endpointfix
