// Where --apply puts the new hive: a front end's sink. The file binding replaces a hive file; the
// image helper's writes the hive back into its disk image. Both replace through one sequence over
// a Volume (offline/sink/replace.h).
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "offline/load/new_hive.h"
#include "registry/result.h"

namespace endpointfix::offline {

// What a message that follows a hive's name adds where nothing was written.
inline constexpr char kAsItWas[] = "; the hive is as it was";

struct SinkResult {
    SinkResult() = default;
    SinkResult(Result said, bool replaced = false) : result(std::move(said)), wrote(replaced) {}
    Result result;        // why the hive was not replaced (saying whether it is as it was)
    bool wrote = false;   // whether the hive the user knows was replaced
    std::string note;     // one line on what stopped runs had left and was removed, or nothing
};

class HiveSink {
public:
    virtual ~HiveSink() = default;
    // Before the hive is read for --apply: takes what makes this run the only one that replaces it
    // (the file binding locks the hive; an image is locked by QEMU while it is attached writable).
    // A failure is a refusal: nothing is to be written.
    virtual Result claim() = 0;
    // Puts `hive` in place of the old one, whole or not at all, once every check of
    // offline/sink/target.h passes (offline/sink/replace.h).
    virtual SinkResult put(const NewHive& hive) = 0;
};

}  // namespace endpointfix::offline
