// Where --apply puts the new hive: a front end's sink, which the service hands the writer of the
// new hive and the check it must pass before it takes the old one's place.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace endpointfix::offline {

struct SinkResult {
    std::string why;     // empty, or why the hive was not replaced (or only partly made to last)
    bool wrote = false;  // whether the hive the user knows was replaced
};

class HiveSink {
public:
    virtual ~HiveSink() = default;
    // Puts a new hive in place of the old one, whole or not at all: `write` writes it at the path
    // it is given (returning 0 or an errno value), and `verify` accepts it, open at the
    // descriptor it is given (returning an empty string, or what is wrong with it), before the
    // old one is replaced. `why` follows the hive's name, and says whether it is as it was.
    virtual SinkResult put(const std::function<int(const char*)>& write,
                           const std::function<std::string(int fd)>& verify) = 0;
};

// The file replace (offline/sink/replace.h): the new hive takes the place of the file at `path`,
// which stays as PATH.bak with `backup`.
class FileSink final : public HiveSink {
public:
    FileSink(std::string path, bool backup) : path_(std::move(path)), backup_(backup) {}
    SinkResult put(const std::function<int(const char*)>& write,
                   const std::function<std::string(int fd)>& verify) override;

private:
    std::string path_;
    bool backup_;
};

}  // namespace endpointfix::offline
