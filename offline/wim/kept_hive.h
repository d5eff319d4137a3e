// An edition's sink: keeps the proven new hive for the one rewrite of the archive that follows
// once every edition is served, and writes nothing itself.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string>

#include "offline/sink/hive_sink.h"

namespace endpointfix::offline::wim {

class KeptHive final : public HiveSink {
public:
    KeptHive() = default;
    ~KeptHive() override {
        if (kept_.fd >= 0) close(kept_.fd);
    }
    KeptHive(const KeptHive&) = delete;
    KeptHive& operator=(const KeptHive&) = delete;

    // The archive's own sink has claimed it, once for all its editions.
    Result claim() override { return {}; }
    // `wrote` stays false: the archive is not changed yet.
    SinkResult put(const NewHive& hive) override {
        const int fd = dup(hive.fd);
        if (fd < 0) return {failed("cannot keep the new hive", errno)};
        kept_ = {fd, hive.size};
        return {};
    }
    // The new hive, if one was put; its descriptor stays this sink's.
    const NewHive& kept() const { return kept_; }

private:
    NewHive kept_;
};

}  // namespace endpointfix::offline::wim
