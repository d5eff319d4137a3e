// The --json documents of a batch: one per image given, each naming the image, the partition and
// the hive's path in fields of their own (beside "source", "IMAGE:PATH", kept as it was).
#pragma once

#include <cstdio>
#include <string>

namespace endpointfix::offline::image {

// Where an image's hive is; partition and path are empty where no hive was found.
struct HiveWhere {
    std::string image;
    std::string partition;  // as a run on the image alone names it ("/dev/sda2")
    std::string path;       // in the partition, spelt as it is there
};

// The check's document `document`, the fields of `where` added after its "source"; as it is
// where it holds no source to follow.
std::string with_where(const std::string& document, const HiveWhere& where);

// The document of an image that was not serviced: the program, the source (IMAGE, or IMAGE:PATH
// where its hive was found), the fields of `where`, "refused": `why`, and the status.
void print_refused(std::FILE* out, const char* program, const std::string& source,
                   const HiveWhere& where, const std::string& why, int status);

}  // namespace endpointfix::offline::image
