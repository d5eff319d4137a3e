#include "offline/image/write_back.h"

#include "offline/sink/replace.h"

namespace endpointfix::offline::image {

const char kHibernated[] =
    "holds a hibernated Windows (its hiberfil.sys holds a hibernation image, which Windows "
    "resumes from, losing what was written meanwhile); start that Windows and shut it down fully "
    "(shutdown /s /t 0), or disable Fast Startup, then run again";

SinkResult write_back(Appliance& appliance, const HiveRead& read, const NewHive& hive, bool backup,
                      const volatile std::sig_atomic_t& interrupted) {
    if (const Result mounted = appliance.mount(read.at.device, true); !mounted.ok())
        return {mounted.and_then_say(kAsItWas)};
    // The image is this run's alone while it is open for writing: QEMU locks it.
    Target target(read.at.hive, backup);
    target.size = static_cast<std::uint64_t>(read.size), target.sha256 = read.sha256;
    SinkResult result = replace_hive(appliance.volume(), target, hive, interrupted);
    const Result finished = appliance.finish();
    if (finished.ok()) return result;
    // Nothing written lasts where the appliance did not finish; a replace it undid may leave a
    // leftover, which the next run removes.
    if (result.wrote)
        result.result = Result::refused("replaced the hive, but " + finished.message());
    else
        result.result = result.result.ok() ? finished
                                            : result.result.and_then_say("; " + finished.message());
    return result;
}

}  // namespace endpointfix::offline::image
