// make_dirty_hive KIND EARLIER LATER OUT [BYTES]: writes OUT, a dirty primary made from the hive
// files EARLIER and LATER, and beside it OUT.LOG1 and OUT.LOG2 (tests/dirty_hive.h names the
// kinds; "none" writes no logs), for the offline tests and the benchmark.
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
    if (argc != 5 && argc != 6) return 2;
    const std::string kind = argv[1], out = argv[4];
    const Buffer earlier = read(argv[2]), later = read(argv[3]);
    if (earlier.size() < 8192 || later.size() < 8192) return 1;
    const auto hive = endpointfix::test::make_dirty_hive(
        kind, earlier, later, argc == 6 ? std::strtoul(argv[5], nullptr, 10) : 0);
    if (!write(out, hive.primary)) return 1;
    if (kind == "none") return 0;
    return write(out + ".LOG1", hive.logs[0]) && write(out + ".LOG2", hive.logs[1]) ? 0 : 1;
}
