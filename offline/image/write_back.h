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

// Puts `hive` in place of the hive `read` describes, in `guest` (opened writable): only where its
// volume mounts writable, is not hibernated, the hive is still the one read and, with `backup`,
// HIVE.bak is not there. The files that only a dead run can have left beside the hive are
// removed first (`note` says so, where there were any), then the hive is replaced
// (offline/sink/replace.h: its security kept, read back by SHA-256, HIVE.bak linked with
// `backup`), and the guest finished, which puts the changes in the image. The transaction logs
// are left as they are. The message follows the hive's name and says whether the image is as it
// was; `wrote` says whether the hive was replaced.
SinkResult write_back(Guest& guest, const HiveRead& read, const NewHive& hive, bool backup,
                      const volatile std::sig_atomic_t& interrupted, std::string& note);

// The sink of the image helper: write_back into `image`, opened writable for it.
class ImageWriteBack final : public HiveSink {
public:
    // `tell` says a line about the hive (the note of what dead runs left).
    ImageWriteBack(const std::string& image, const HiveRead& read, bool backup,
                   const volatile std::sig_atomic_t& interrupted,
                   std::function<void(const std::string&)> tell)
        : image_(image), read_(read), backup_(backup), interrupted_(interrupted),
          tell_(std::move(tell)) {}
    // Nothing to take here: QEMU locks the image while it is open for writing, and the leftovers
    // are removed once it is (put), which costs no second start of the appliance.
    Result claim(std::string& note) override {
        note.clear();
        return {};
    }
    SinkResult put(const NewHive& hive) override;

private:
    const std::string& image_;
    const HiveRead& read_;
    bool backup_;
    const volatile std::sig_atomic_t& interrupted_;
    std::function<void(const std::string&)> tell_;
};

}  // namespace endpointfix::offline::image
