// make_dirty_hive [--pad BYTES] KIND OUT STATE...: writes OUT, a dirty primary made from the
// successive states of a hive in the hive files STATE (two or more), and beside it OUT.LOG1 and
// OUT.LOG2 (tests/dirty_hive.h names the kinds; "none" writes no logs), for the offline tests
// and the benchmark. --pad: log at least BYTES of pages towards the last state.
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/dirty_hive.h"

namespace {

using endpointfix::test::Buffer;

Buffer read(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Buffer(std::istreambuf_iterator<char>(in), {});
}

bool write(const std::string& path, const Buffer& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t pad = 0;
    if (argc > 2 && std::string(argv[1]) == "--pad")
        pad = std::strtoul(argv[2], nullptr, 10), argc -= 2, argv += 2;
    if (argc < 5) return 2;
    const std::string kind = argv[1], out = argv[2];
    std::vector<Buffer> states;
    for (int i = 3; i < argc; ++i) {
        states.push_back(read(argv[i]));
        if (states.back().size() < 8192) return 1;
    }
    const auto hive = endpointfix::test::make_dirty_hive(kind, states, pad);
    if (!write(out, hive.primary)) return 1;
    if (kind == "none") return 0;
    return write(out + ".LOG1", hive.logs[0]) && write(out + ".LOG2", hive.logs[1]) ? 0 : 1;
}
