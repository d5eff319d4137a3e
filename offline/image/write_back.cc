#include "offline/image/write_back.h"

#include "offline/image/guest_volume.h"
#include "offline/sink/replace.h"

namespace endpointfix::offline::image {

const char kHibernated[] =
    "holds a hibernated Windows (its hiberfil.sys holds a hibernation image, which Windows "
    "resumes from, losing what was written meanwhile); start that Windows and shut it down fully "
    "(shutdown /s /t 0), or disable Fast Startup, then run again";

namespace {

constexpr char kAsItWas[] = "; the image is as it was";

// Why the hive in the mounted volume may not be replaced, or nothing.
Result refusal(Guest& guest, const HiveRead& read, bool backup) {
    if (!guest.mount(read.at.device, true))
        return Result::refused("cannot mount " + read.at.device + " for writing: " + guest.error());
    if (hibernated(guest)) return Result::refused(std::string("the image ") + kHibernated);
    (void)backup;
    return {};
}

}  // namespace

SinkResult write_back(Guest& guest, const HiveRead& read, const NewHive& hive, bool backup,
                      const volatile std::sig_atomic_t& interrupted, std::string& note) {
    note.clear();
    if (const Result refused = refusal(guest, read, backup); !refused.ok())
        return {refused.and_then_say(kAsItWas)};
    GuestVolume volume(guest);
    // The image is this run's alone while it is open for writing: QEMU locks it.
    Target target(read.at.hive, backup);
    target.size = static_cast<std::uint64_t>(read.size), target.sha256 = read.sha256;
    SinkResult result = replace_hive(volume, target, hive, interrupted);
    note = result.note;
    if (guest.finish()) return result;
    // Nothing written lasts where the guest did not finish; a replace it undid may leave a
    // leftover, which the next run removes.
    const std::string why = "the image may not hold what was written: " + guest.error();
    if (result.wrote) return {Result::refused("replaced the hive, but " + why), true};
    return {result.result.ok() ? Result::refused(why) : result.result.and_then_say("; " + why)};
}

SinkResult ImageWriteBack::put(const NewHive& hive) {
    guest_.unmount_all();
    std::string note;
    SinkResult result = write_back(guest_, read_, hive, backup_, interrupted_, note);
    if (!note.empty()) tell_(note);
    return result;
}

}  // namespace endpointfix::offline::image
