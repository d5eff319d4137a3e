// The realistic store for runs outside this process:
//   store_tool reg N     prints it as a .reg file, to import into a registry
//   store_tool count N   runs over it once and prints the store operations made, by kind
//   store_tool replay N  records a run over one copy and replays it, with no logic, on another
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run.h"
#include "bench/realistic_store.h"
#include "bench/recording_store.h"
#include "registry/memory_store.h"

int main(int argc, char** argv) {
    using namespace endpointfix;
    if (argc != 3) return 2;
    const std::string mode = argv[1];
    const auto values = bench::realistic_store(std::atoi(argv[2]));
    if (mode == "reg") {
        std::printf("Windows Registry Editor Version 5.00\n");
        std::string key;
        for (const auto& v : values) {
            if (v.key != key) std::printf("\n[HKEY_LOCAL_MACHINE\\%s]\n", (key = v.key).c_str());
            if (v.type == 4)
                std::printf("\"%s\"=dword:%02x%02x%02x%02x\n", v.name.c_str(), v.bytes[3],
                            v.bytes[2], v.bytes[1], v.bytes[0]);
            else
                std::printf("\"%s\"=\"%.*s\"\n", v.name.c_str(),
                            static_cast<int>(v.bytes.size() - 1),
                            reinterpret_cast<const char*>(v.bytes.data()));
        }
        return 0;
    }
    if (mode != "count" && mode != "replay") return 2;
    MemoryStore store, twin;
    for (MemoryStore* s : {&store, &twin}) {
        for (const auto& v : values) s->set_value(v.key, v.name, v.type, v.bytes);
        // Keys are put in order on their first listing, as a registry does when they are added.
        s->dump();
    }
    if (mode == "replay") {
        bench::RecordingStore recorder(twin);
        run(recorder);
        std::vector<KeyHandle> handles;
        bench::replay(store, recorder.operations, handles);
        return 0;
    }
    run(store);
    const auto& c = store.counts();
    std::printf("open %llu\nenumerate %llu\nread %llu\nwrite %llu\nclose %llu\n",
                (unsigned long long)c.open, (unsigned long long)c.enumerate,
                (unsigned long long)c.read, (unsigned long long)c.write,
                (unsigned long long)c.close);
    return 0;
}
