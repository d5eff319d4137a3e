#include "offline/image/write_back.h"

#include "offline/held_signals.h"

namespace endpointfix::offline::image {

const char kHibernated[] =
    "holds a hibernated Windows (its hiberfil.sys holds a hibernation image, which Windows "
    "resumes from, losing what was written meanwhile); start that Windows and shut it down fully "
    "(shutdown /s /t 0), or disable Fast Startup, then run again";

namespace {

std::string as_it_was(const std::string& why) { return why + "; the image is as it was"; }

}  // namespace

std::string write_back(const std::string& image, const HiveRead& read, const std::string& local,
                       bool backup, const std::string& temp_suffix) {
    std::string why;
    const auto guest = Guest::open(image, true, why);
    if (!guest) return as_it_was(why);
    if (!guest->mount(read.at.device, true))
        return as_it_was("cannot mount " + read.at.device + " for writing: " + guest->error());
    if (hibernated(*guest)) return as_it_was(kHibernated);
    const std::string& hive = read.at.hive;
    if (guest->size(hive) != read.size || guest->sha256(hive) != read.sha256)
        return as_it_was(hive + " changed in the image since it was read; run again");
    const std::string bak = hive + ".bak";
    if (backup && guest->file(bak)) return as_it_was(bak + " is there already");

    const HeldSignals held;
    const std::string temp = hive + temp_suffix;
    bool linked = false;
    if (!guest->upload(local, temp))
        why = "cannot write the new hive into the image: " + guest->error();
    if (why.empty() && backup && !(linked = guest->link(hive, bak)))
        why = "cannot keep the backup " + bak + ": " + guest->error();
    if (why.empty() && !guest->rename(temp, hive))
        why = "cannot replace the hive: " + guest->error();
    if (!why.empty()) {
        guest->remove(temp);
        if (linked) guest->remove(bak);
        return guest->finish() ? as_it_was(why) : why + "; the image may hold a leftover " + temp;
    }
    if (!guest->finish())
        return "replaced the hive, but the image may not hold the change: " + guest->error();
    return "";
}

}  // namespace endpointfix::offline::image
