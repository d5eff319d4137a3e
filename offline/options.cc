#include "offline/options.h"

#include <set>
#include <vector>

namespace endpointfix::offline {

const char kUsageText[] =
    "usage: endpointfix-offline [--json] [--apply [--backup]] WHERE\n"
    "       endpointfix-offline --reg WHERE\n"
    "       endpointfix-offline --recover OUT WHERE\n"
    "       endpointfix-offline --help | --version\n"
    "WHERE is [--] HIVE, or [--timeout SECONDS] [--progress] --image IMAGE [--root DEVICE]\n"
    "         [--image IMAGE [--root DEVICE]]...\n"
    "  HIVE       a SOFTWARE hive file (Windows/System32/config/SOFTWARE); where it is a\n"
    "             symbolic link, the file it names is serviced. A dirty hive is read as\n"
    "             Windows loads it, with the transaction logs beside it (HIVE.LOG1, .LOG2)\n"
    "             replayed; they are never changed\n"
    "  (none)     report what a run of endpointfix would change in it\n"
    "  --reg      print those changes as a .reg file\n"
    "  --apply    make them, replacing the file whole with a clean hive; --backup keeps it\n"
    "             as HIVE.bak, and refuses to make them where HIVE.bak exists already\n"
    "  --recover  write the hive as Windows would load it, logs replayed, to the new file\n"
    "             OUT (any hive: SOFTWARE, SYSTEM, NTUSER.DAT); changes nothing else\n"
    "  --json     the report (of --apply too) as one JSON document\n"
    "  --image    the same on the SOFTWARE hive inside the disk image IMAGE (with the package\n"
    "             endpointfix-offline-image); --root picks the installation on DEVICE in the\n"
    "             image before it. Several images are serviced in turn, each named (with\n"
    "             --json, one document each); --timeout ends the run after SECONDS;\n"
    "             --progress says what is done where stderr is no terminal too\n"
    "Exit status: 0 nothing to change (or changed), 1 changes pending, 2 the hive cannot be\n"
    "serviced (or part of it read), 3 usage, 4 output not written in full (with --apply,\n"
    "after the changes were made). More in endpointfix-offline(1).\n";

namespace {

// The name of the value an option takes as its next argument; nullptr for the others.
const char* value_name(const std::string& option) {
    if (option == "--recover") return "OUT";
    if (option == "--image") return "IMAGE";
    if (option == "--root") return "DEVICE";
    if (option == "--timeout") return "SECONDS";
    return nullptr;
}

// Whether `text` is a whole number of seconds from 1 to a day, set in `seconds`.
bool whole_seconds(const std::string& text, unsigned& seconds) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    seconds = static_cast<unsigned>(std::stoul(text));
    return seconds >= 1 && seconds <= 86400;
}

// The reason the options, read in full, do not go together; "" where they do.
std::string combination_error(const Options& options, const std::vector<std::string>& modes,
                              std::size_t hives, bool root_first) {
    if (options.help || options.version) return "";
    if (modes.size() > 1) return modes[0] + " does not go with " + modes[1];
    if (options.backup && options.mode != Mode::kApply) return "--backup goes only with --apply";
    if (options.json && !modes.empty() && options.mode != Mode::kApply)
        return "--json does not go with " + modes[0];
    if (options.timeout != 0 && options.images.empty()) return "--timeout goes only with --image";
    if (options.progress && options.images.empty()) return "--progress goes only with --image";
    if (root_first && options.images.size() != 1)
        return options.images.empty() ? "--root goes only with --image"
                                      : "--root goes only with one --image";
    // One OUT, and one .reg file of one hive's changes.
    if (options.images.size() > 1 && (options.mode == Mode::kRecover || options.mode == Mode::kRegFile))
        return modes[0] + " goes only with one --image";
    if (!options.images.empty() && hives > 0) return "HIVE does not go with --image";
    if (hives > 1) return "HIVE given twice";
    if (hives == 0 && options.images.empty())  // `--recover HIVE` has taken HIVE for OUT
        return options.mode == Mode::kRecover ? "--recover needs OUT, then HIVE: one name given"
                                              : "no HIVE given";
    return "";
}

}  // namespace

std::string parse_options(int argc, const char* const* argv, Options& out) {
    std::set<std::string> seen;
    std::vector<std::string> hives, modes;
    std::string root_first;  // a --root before any --image
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_end || arg.empty() || arg[0] != '-') {
            hives.push_back(arg);
            continue;
        }
        const std::string option = arg == "-h" ? "--help" : arg;
        const bool per_image = option == "--image" || (option == "--root" && !out.images.empty());
        if (!seen.insert(option).second && !per_image) return option + " given twice";
        if (const char* value = value_name(option);
            value != nullptr && (i + 1 >= argc || *argv[i + 1] == 0))
            return option + " needs " + value;
        if (option == "--")
            options_end = true;
        else if (option == "--reg")
            out.mode = Mode::kRegFile, modes.push_back(option);
        else if (option == "--apply")
            out.mode = Mode::kApply, modes.push_back(option);
        else if (option == "--recover")
            out.mode = Mode::kRecover, out.out = argv[++i], modes.push_back(option);
        else if (option == "--image")
            out.images.push_back(argv[++i]), out.roots.emplace_back();
        else if (option == "--root" && out.images.empty())
            root_first = argv[++i];
        else if (option == "--root" && !out.roots.back().empty())
            return "--root given twice";
        else if (option == "--root")
            out.roots.back() = argv[++i];
        else if (option == "--timeout") {
            if (!whole_seconds(argv[++i], out.timeout))
                return "--timeout needs SECONDS, a whole number from 1 to 86400";
        }
        else if (option == "--progress")
            out.progress = true;
        else if (option == "--backup")
            out.backup = true;
        else if (option == "--json")
            out.json = true;
        else if (option == "--help" || option == "--version")
            (option == "--help" ? out.help : out.version) = true;
        else
            return "unknown option " + arg;
    }
    if ((out.help || out.version) && argc != 2)
        return std::string(out.help ? "--help" : "--version") + " goes alone";
    const std::string error = combination_error(out, modes, hives.size(), !root_first.empty());
    if (!root_first.empty() && out.roots.size() == 1 && out.roots[0].empty()) out.roots[0] = root_first;
    if (!root_first.empty() && error.empty() && out.roots[0] != root_first) return "--root given twice";
    if (error.empty() && !hives.empty()) out.hive = hives.front();
    return error;
}

}  // namespace endpointfix::offline
