// Writing a serviced hive back into its disk image: the image helper's sink.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "offline/image/find_hive.h"
#include "offline/image/guest.h"
#include "offline/sink/hive_sink.h"

namespace endpointfix::offline::image {

// What was read out of the image: where the hive is, and its size and checksum then.
struct HiveRead {
    Installation at;
    std::int64_t size = 0;
    std::string sha256;
};

// What --apply is told about a hibernated volume.
extern const char kHibernated[];

// Puts `hive` in place of the hive `read` describes, in `guest` (its disk attached writable):
// only where its volume mounts writable, is not hibernated, the hive is still the one read and,
// with `backup`, HIVE.bak is not there. The files that only a dead run can have left beside the
// hive are removed first (`note` says so, where there were any), then the hive is replaced
// (offline/sink/replace.h: its security kept, read back by SHA-256, HIVE.bak linked with
// `backup`), and the guest finished: its writes flushed into the image, the volume unmounted.
// The transaction logs are left as they are. The message follows the hive's name and says
// whether the image is as it was; `wrote` says whether the hive was replaced.
SinkResult write_back(Guest& guest, const HiveRead& read, const NewHive& hive, bool backup,
                      const volatile std::sig_atomic_t& interrupted, std::string& note);

// The sink of the image helper: write_back into the image's disk in `guest`, which attached it
// writable and has the hive's volume mounted read-only, unmounted here first.
class ImageWriteBack final : public HiveSink {
public:
    // `tell` says a line about the hive (the note of what dead runs left).
    ImageWriteBack(Guest& guest, const HiveRead& read, bool backup,
                   const volatile std::sig_atomic_t& interrupted,
                   std::function<void(const std::string&)> tell)
        : guest_(guest), read_(read), backup_(backup), interrupted_(interrupted),
          tell_(std::move(tell)) {}
    // Nothing to take here: QEMU locks the image while it is attached writable, and the
    // leftovers are removed once the volume is mounted writable (put).
    Result claim() override { return {}; }
    SinkResult put(const NewHive& hive) override;

private:
    Guest& guest_;
    const HiveRead& read_;
    bool backup_;
    const volatile std::sig_atomic_t& interrupted_;
    std::function<void(const std::string&)> tell_;
};

}  // namespace endpointfix::offline::image
