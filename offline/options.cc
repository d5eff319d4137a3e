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
    "         [--image IMAGE [--root DEVICE]]..., or --image WIM [--edition INDEX...]\n"
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
    "  WIM        a Windows installation image (install.wim, install.esd): each edition's\n"
    "             hive in turn, or those --edition picks, and the WIM rewritten once\n"
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
    if (option == "--edition") return "INDEX";
    return nullptr;
}

// Whether `text` is a whole number of seconds from 1 to a day, set in `seconds`.
bool whole_seconds(const std::string& text, unsigned& seconds) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    seconds = static_cast<unsigned>(std::stoul(text));
    return seconds >= 1 && seconds <= 86400;
}

// Whether the options, read in full, go together; refused with the reason where they do not.
Result combination_error(const Options& options, const std::vector<std::string>& modes,
                         std::size_t hives, bool root_first) {
    const auto no = [](const std::string& why) { return Result::refused(why); };
    if (options.help || options.version) return {};
    if (modes.size() > 1) return no(modes[0] + " does not go with " + modes[1]);
    if (options.backup && options.mode != Mode::kApply) return no("--backup goes only with --apply");
    if (options.json && !modes.empty() && options.mode != Mode::kApply)
        return no("--json does not go with " + modes[0]);
    if (options.timeout != 0 && options.images.empty()) return no("--timeout goes only with --image");
    if (options.progress && options.images.empty()) return no("--progress goes only with --image");
    if (root_first && options.images.size() != 1)
        return no(options.images.empty() ? "--root goes only with --image"
                                         : "--root goes only with one --image");
    // One OUT, and one .reg file of one hive's changes.
    if (options.images.size() > 1 &&
        (options.mode == Mode::kRecover || options.mode == Mode::kRegFile))
        return no(modes[0] + " goes only with one --image");
    if (!options.editions.empty() && options.images.empty())
        return no("--edition goes only with --image");
    if (!options.images.empty() && hives > 0) return no("HIVE does not go with --image");
    if (hives > 1) return no("HIVE given twice");
    if (hives == 0 && options.images.empty())  // `--recover HIVE` has taken HIVE for OUT
        return no(options.mode == Mode::kRecover ? "--recover needs OUT, then HIVE: one name given"
                                                 : "no HIVE given");
    return {};
}

}  // namespace

Result parse_options(int argc, const char* const* argv, Options& out) {
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
        const bool per_image = option == "--image" || option == "--edition" ||
                               (option == "--root" && !out.images.empty());
        if (!seen.insert(option).second && !per_image)
            return Result::refused(option + " given twice");
        if (const char* value = value_name(option);
            value != nullptr && (i + 1 >= argc || *argv[i + 1] == 0))
            return Result::refused(option + " needs " + value);
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
            return Result::refused("--root given twice");
        else if (option == "--root")
            out.roots.back() = argv[++i];
        else if (option == "--timeout") {
            if (!whole_seconds(argv[++i], out.timeout))
                return Result::refused("--timeout needs SECONDS, a whole number from 1 to 86400");
        } else if (option == "--edition") {
            const std::string index = argv[++i];
            if (index.size() > 4 || index.find_first_not_of("0123456789") != std::string::npos ||
                std::stoul(index) == 0)
                return Result::refused("--edition needs an INDEX from 1, not " + index);
            out.editions.push_back(static_cast<unsigned>(std::stoul(index)));
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
            return Result::refused("unknown option " + arg);
    }
    if ((out.help || out.version) && argc != 2)
        return Result::refused(std::string(out.help ? "--help" : "--version") + " goes alone");
    const Result error = combination_error(out, modes, hives.size(), !root_first.empty());
    if (!root_first.empty() && out.roots.size() == 1 && out.roots[0].empty())
        out.roots[0] = root_first;
    if (!root_first.empty() && error.ok() && out.roots[0] != root_first)
        return Result::refused("--root given twice");
    if (error.ok() && !hives.empty()) out.hive = hives.front();
    return error;
}

}  // namespace endpointfix::offline
