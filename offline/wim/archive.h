// A Windows installation image (a WIM, or its solid kind, an ESD) through wimlib: the one file
// that includes <wimlib.h>. wimlib's errors become a Result here, in wimlib's own words.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "registry/result.h"

struct WIMStruct;

namespace endpointfix::offline::wim {

// The archive as its header and tables tell it.
struct ArchiveFacts {
    int editions = 0;       // images, numbered from 1
    int parts = 1;          // more than one: a part of a split WIM
    bool solid = false;     // its data in solid resources (an ESD)
    bool integrity = false; // it has an integrity table
    bool pipable = false;   // wimlib's pipable kind
};

// The SOFTWARE hive of one edition, with what its replacement must keep.
struct HiveInEdition {
    std::string folder;             // its folder in the edition, as named there
    std::string name;               // its own name there
    std::vector<std::string> logs;  // the names of its transaction logs beside it
    std::string descriptor;         // its security descriptor, self-relative, as stored
    std::uint32_t attributes = 0;   // its Windows file attributes
    std::uint64_t created = 0;      // its creation time: 100 ns units since 1601 (NTFS time)
};

class Archive {
public:
    // Opens the archive at `path` for reading its editions and, later, writing it anew.
    static std::unique_ptr<Archive> open(const std::string& path, Result& result);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    const ArchiveFacts& facts() const { return facts_; }
    // The edition's name in the archive's XML data; "" where it has none.
    std::string edition_name(int edition) const;
    // Finds Windows/System32/config/SOFTWARE in `edition` (in any letter case): the code is
    // ENOENT where the edition holds none.
    Result find_hive(int edition, HiveInEdition& hive);
    // Copies the hive and its logs out into the folder `into`, under their own names.
    Result extract(int edition, const HiveInEdition& hive, const std::string& into);
    // Merges the root folder of the NTFS volume in the file `volume` into the hive's folder of
    // `edition`: its files replace theirs of the same name, with the security, attributes and
    // times they have on the volume; the folder itself, and every other file, stay as they are.
    // The volume is read again when the archive is written.
    Result merge_volume(int edition, const std::string& volume, const HiveInEdition& hive);
    // Writes the whole archive to `fd` (seekable, empty): its GUID, compression, chunk size,
    // integrity table, solid resources and pipable kind as they were; unchanged data copied, not recompressed.
    // `interrupted`, set by a signal handler, stops it.
    Result write_to(int fd, const volatile std::sig_atomic_t& interrupted);

private:
    explicit Archive(WIMStruct* wim) : wim_(wim) {}
    WIMStruct* wim_;
    ArchiveFacts facts_;
};

}  // namespace endpointfix::offline::wim
