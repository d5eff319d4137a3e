#include "offline/options.h"

#include <set>
#include <vector>

namespace endpointfix::offline {

bool parse_options(int argc, const char* const* argv, Options& out) {
    std::set<std::string> seen;
    std::vector<std::string> hives;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_end || arg.empty() || arg[0] != '-') {
            hives.push_back(arg);
            continue;
        }
        const std::string option = arg == "-h" ? "--help" : arg;
        if (!seen.insert(option).second) return false;
        if (option == "--")
            options_end = true;
        else if (option == "--reg")
            out.mode = Mode::kRegFile;
        else if (option == "--apply")
            out.mode = Mode::kApply;
        else if (option == "--recover" && i + 1 < argc)
            out.mode = Mode::kRecover, out.out = argv[++i];
        else if ((option == "--image" || option == "--root") && i + 1 < argc)
            (option == "--image" ? out.image : out.root) = argv[++i];
        else if (option == "--backup")
            out.backup = true;
        else if (option == "--json")
            out.json = true;
        else if (option == "--help")
            out.help = true;
        else
            return false;
    }
    if (out.help) return argc == 2;
    if (hives.size() != (out.image.empty() ? 1u : 0u) || (!out.root.empty() && out.image.empty()) ||
        seen.count("--reg") + seen.count("--apply") + seen.count("--recover") > 1 ||
        out.out.empty() != (out.mode != Mode::kRecover) ||
        (out.backup && out.mode != Mode::kApply) ||
        (out.json && out.mode != Mode::kReport && out.mode != Mode::kApply))
        return false;
    if (!hives.empty()) out.hive = hives.front();
    return true;
}

}  // namespace endpointfix::offline
