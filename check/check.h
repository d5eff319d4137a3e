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
inline constexpr int kOutputFailed = 4;  // the report, .reg file or JSON was not written in full

enum class CheckOutput { kReport, kRegFile, kJson };

struct CheckOptions {
    CheckOutput output = CheckOutput::kReport;
    const char* program = "endpointfix-check";  // begins the summary and the messages
    bool utf8 = false;  // registry text printed as UTF-8 (it is Windows-1252), not as it stands
    // The changes are being made: they are "made", not "pending", and the status is 0 where
    // nothing is blocked or unreadable.
    bool applying = false;
    std::uint32_t* changes = nullptr;  // where set, receives the number of changes
    // The JSON document says whether the hive was written ("written": true where there are
    // changes to make), for a caller that prints it only once the changes are written.
    bool says_written = false;
    const char* source = "registry";   // what the JSON says was read: UTF-8 (a file's path)
};

// Runs the check over `registry` (seen through `inspector` too) and prints to `out`, changing
// nothing. The report has a block for each endpoint a rule acts on: a line with the pass, the
// endpoint key and its description, then a line for each value the act reads or writes, with
// its content and what the run would do to it. A line names each key that cannot be read in
// full. Last comes a one-line summary, which also counts the endpoints no rule matched and says
// where there is no endpoint store at all. The .reg file holds exactly the pending changes,
// blocked ones included, so that importing it makes the changes a run would; keys that cannot
// be read are named in its comments. The JSON document holds what the report does, as data (the
// README lists its fields). Returns the exit status: kOutputFailed, with a line on stderr, where
// `out` could not be written in full.
int run_check(RegistryStore& registry, StoreInspector& inspector, std::FILE* out,
              const CheckOptions& options);

// `text` (UTF-8; a byte that is no part of a character in it stands for its Windows-1252 one)
// as a JSON string, quoted, as the JSON document writes its source: for documents of a caller's
// own that name the same things.
void print_json_string(std::FILE* out, const char* text);

}  // namespace endpointfix
