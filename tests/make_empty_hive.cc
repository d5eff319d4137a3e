// make_empty_hive FILE: writes a hive file holding its root key alone, for the offline tests,
// the demo and the benchmark to fill.
#include "tests/empty_hive.h"

int main(int argc, char** argv) {
    return argc == 2 && endpointfix::test::write_empty_hive(argv[1]) ? 0 : 1;
}
