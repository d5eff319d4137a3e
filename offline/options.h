// The offline program's command line: one mode, its options, and one hive (or one disk image).
#pragma once

#include <string>
#include <vector>

#include "registry/result.h"

namespace endpointfix::offline {

enum class Mode { kReport, kRegFile, kApply, kRecover };

struct Options {
    Mode mode = Mode::kReport;
    bool backup = false;   // with kApply: keep the hive as it was as HIVE.bak
    bool json = false;     // with kReport or kApply: the report as the check's JSON document
    bool help = false;     // --help alone: print the usage and do nothing else
    bool version = false;  // --version alone: print the version and do nothing else
    std::string out;       // with kRecover: the file to write the recovered hive to
    std::string hive;
    // --image, once or more: the disk images whose SOFTWARE hives are serviced, not `hive`, in
    // the order given.
    std::vector<std::string> images;
    // --root DEVICE, each for the --image before it ("" where none follows it); one --root before
    // the only --image is that image's: the device of the installation to service.
    std::vector<std::string> roots;
    bool progress = false;  // --progress: with --image, say what is done even off a terminal
    unsigned timeout = 0;  // --timeout SECONDS: with --image, the longest the run may take; 0: none
    // --edition, once or more: with a WIM, the editions (image indexes, from 1) to service, in
    // the order given; none means all.
    std::vector<unsigned> editions;
};

// Reads the arguments after the program's name. Each option may stand once, but --image,
// --edition and --root (each for the --image before it); "--" ends the options, so that a hive
// whose name begins with '-' can be named; "-h" is "--help". Done, or refused for a usage error
// with what was wrong, in a few words for one line: an unknown or repeated option, an option
// without its value, an --edition that is not an index, not exactly one hive (none with --image
// IMAGE; --root DEVICE follows the --image it is for, or stands before the only one), more than
// one of --reg, --apply and --recover (which takes the next argument as its OUT), --backup
// without --apply, --json with --reg or --recover, or --help or --version with anything else.
Result parse_options(int argc, const char* const* argv, Options& out);

// The usage, as --help prints it and a usage error follows with.
extern const char kUsageText[];

}  // namespace endpointfix::offline
