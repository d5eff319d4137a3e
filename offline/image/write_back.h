// Writing a serviced hive back into its disk image: the image helper's sink.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "offline/image/appliance.h"
#include "offline/image/find_hive.h"
#include "offline/sink/hive_sink.h"

namespace endpointfix::offline::image {

// What was read out of the image: where the hive is, and its size and checksum then.
struct HiveRead {
    Installation at;
    std::int64_t size = 0;
    std::string sha256;
};

// What --apply is told about a hibernated volume, which the image helper refuses before it
// copies the hive out.
extern const char kHibernated[];

// Puts `hive` in place of the hive `read` describes, in `appliance` (its disk attached
// writable): its volume mounted writable, the hive replaced (offline/sink/replace.h: every check
// of offline/sink/target.h, the hive still the one read among them; its security kept, read back
// by SHA-256, HIVE.bak linked with `backup`), and the appliance finished: its writes flushed into
// the image, the volume unmounted. The transaction logs are left as they are. The message follows
// the hive's name and says whether the image is as it was; `wrote` says whether the hive was
// replaced, `note` what stopped runs had left and was removed.
SinkResult write_back(Appliance& appliance, const HiveRead& read, const NewHive& hive, bool backup,
                      const volatile std::sig_atomic_t& interrupted);

// The sink of the image helper: write_back into the image's disk in `appliance`, which attached
// it writable and may have the hive's volume mounted read-only, unmounted here first.
class ImageWriteBack final : public HiveSink {
public:
    ImageWriteBack(Appliance& appliance, const HiveRead& read, bool backup,
                   const volatile std::sig_atomic_t& interrupted)
        : appliance_(appliance), read_(read), backup_(backup), interrupted_(interrupted) {}
    // Nothing to take here: QEMU locks the image while it is attached writable.
    Result claim() override { return {}; }
    SinkResult put(const NewHive& hive) override {
        appliance_.unmount_all();
        return write_back(appliance_, read_, hive, backup_, interrupted_);
    }

private:
    Appliance& appliance_;
    const HiveRead& read_;
    bool backup_;
    const volatile std::sig_atomic_t& interrupted_;
};

}  // namespace endpointfix::offline::image
