// endpointfix-offline-wim: endpointfix-offline's modes over the SOFTWARE hive of every edition of
// a Windows installation image (install.wim, install.esd), through wimlib, without libguestfs.
// Started by `endpointfix-offline --image WIM` with the user's arguments, which it reads with the
// same parser. Each edition's hive and logs are copied out into a private folder and served there
// by the offline service itself; for --apply, each new hive is kept, put into its edition from an
// NTFS volume that gives it the old hive's security, attributes and creation time, and the WIM is
// written anew once, through the one replace, after every edition is served.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "check/check.h"
#include "check/escaped_name.h"
#include "offline/interrupts.h"
#include "offline/load/hive_file.h"
#include "offline/options.h"
#include "offline/service.h"
#include "offline/sink/file_sink.h"
#include "offline/std_streams.h"
#include "offline/wim/archive.h"
#include "offline/wim/hive_volume.h"
#include "offline/wim/kept_hive.h"
#include "offline/wim/new_archive.h"
#include "offline/load/private_folder.h"

namespace {

using namespace endpointfix;
using namespace endpointfix::offline;
using namespace endpointfix::offline::wim;

constexpr char kProgram[] = "endpointfix-offline";

int refuse(const std::string& what, const std::string& why, int status = kBlockedOrUnreadable) {
    say(kProgram, what, why);
    return status;
}

// The editions `options` picks, all where it picks none; refused where they cannot be served.
Result pick_editions(const Options& options, const Archive& archive, std::vector<int>& picked) {
    const int count = archive.facts().editions;
    for (unsigned index : options.editions) {
        if (index > static_cast<unsigned>(count))
            return Result::refused("has no edition " + std::to_string(index) + " (it has " +
                                   std::to_string(count) + ")");
        if (std::find(picked.begin(), picked.end(), static_cast<int>(index)) != picked.end())
            return Result::refused("--edition " + std::to_string(index) + " given twice");
        picked.push_back(static_cast<int>(index));
    }
    if (options.editions.empty())
        for (int index = 1; index <= count; ++index) picked.push_back(index);
    if (picked.size() > 1 && (options.mode == Mode::kRegFile || options.mode == Mode::kRecover))
        return Result::refused(std::string(options.mode == Mode::kRegFile ? "--reg" : "--recover") +
                               " takes one edition, and this WIM has " + std::to_string(count) +
                               ": pick it with --edition INDEX");
    return {};
}

// The work folders of the changed editions: each new hive stays in its volume file there, which
// wimlib reads again as it writes the archive.
using Changed = std::vector<std::unique_ptr<PrivateFolder>>;

// One edition, served as a hive file is; for --apply, its new hive put into the archive.
int serve_edition(Archive& archive, int edition, const std::string& wim, const Options& options,
                  Changed& changed) {
    const std::string name = archive.edition_name(edition);
    const std::string edition_label =
        wim + ":" + std::to_string(edition) + (name.empty() ? "" : " (" + name + ")");
    if (!options.json && (options.mode == Mode::kReport || options.mode == Mode::kApply))
        std::printf("%s: edition %d of %d%s\n", escaped_name(wim).c_str(), edition,
                    archive.facts().editions, name.empty() ? "" : (", " + escaped_name(name)).c_str());
    std::fflush(stdout);
    HiveInEdition hive;
    if (const Result found = archive.find_hive(edition, hive); !found.ok())
        return refuse(edition_label, found.message());
    auto folder = std::make_unique<PrivateFolder>("wim");
    if (folder->path().empty()) return refuse(edition_label, "cannot create a private temporary folder");
    if (const Result out = archive.extract(edition, hive, folder->path()); !out.ok())
        return refuse(edition_label, out.message());
    const HiveSource source{edition_label + ":" + hive.folder + "/" + hive.name,
                           folder->path() + "/" + hive.name, false};
    KeptHive sink;
    const int status = serve(kProgram, options, source, sink);
    if (sink.kept().fd < 0) return status;
    // Only the volume need stay until the WIM is written: the copies go now.
    std::remove(source.file.c_str());
    for (const std::string& log : hive.logs) std::remove((folder->path() + "/" + log).c_str());
    const std::string volume = folder->path() + "/new-hive.ntfs";
    Result put = make_volume_with(volume, {hive.name, sink.kept().fd, sink.kept().size,
                                           hive.descriptor, hive.attributes, hive.created});
    if (put.ok()) put = archive.merge_volume(edition, volume, hive);
    // wimlib leaves an edition as it was where its update fails; the others still go in.
    if (!put.ok()) return refuse(source.label(), put.message() + "; this edition is left as it was");
    changed.push_back(std::move(folder));
    return status;
}

// Writes the archive anew, with every changed edition, in place of the old one.
int write_back(Archive& archive, FileSink& sink, const std::string& wim) {
    constexpr char kNone[] = "; none of the changes above were made";
    NewHive written;
    if (const Result made = write_new_archive(archive, wim, written, interrupting_signal()); !made.ok())
        return refuse(wim, made.message() + "; the WIM is as it was" + kNone);
    const SinkResult put = sink.put(written);
    close(written.fd);
    if (!put.note.empty()) refuse(wim, put.note, 0);
    if (put.wrote && interrupting_signal() != 0) {
        // Too late to stop: the run ends as one that made its changes.
        refuse(wim, "interrupted after the WIM was replaced; it holds the changes", 0);
        forget_interrupt();
    }
    if (put.result.ok()) return 0;
    return refuse(wim, put.result.message() + (put.wrote ? "" : kNone));
}

int service_archive(const std::string& given, const Options& options) {
    const HiveSource file = resolve_hive_path(given);  // a link's target is replaced, not the link
    // --apply claims the WIM before reading it: what is read is what is replaced.
    FileSink sink(file.file, options.backup, interrupting_signal());
    if (options.mode == Mode::kApply)
        if (const Result claimed = sink.claim(); !claimed.ok()) return refuse(given, claimed.message());
    Result result;
    const auto archive = Archive::open(file.file, result);
    if (!archive) return refuse(given, result.message());
    if (archive->facts().parts > 1)
        return refuse(given, "is a part of a split WIM (" + std::to_string(archive->facts().parts) +
                                 " parts): join them first, with wimlib-imagex join");
    std::vector<int> editions;
    if (const Result picked = pick_editions(options, *archive, editions); !picked.ok())
        return refuse(given, picked.message(), kUsage);
    int status = 0;
    Changed changed;
    for (const int edition : editions) {
        if (interrupting_signal() != 0) return kBlockedOrUnreadable;
        status = std::max(status, serve_edition(*archive, edition, given, options, changed));
    }
    if (interrupting_signal() != 0) return kBlockedOrUnreadable;
    if (changed.empty()) return status;
    return std::max(status, write_back(*archive, sink, file.file));
}

}  // namespace

int main(int argc, char** argv) {
    if (!open_standard_streams()) return kBlockedOrUnreadable;
    Options options;
    std::string error = parse_options(argc, argv, options).message();
    if (error.empty() && options.images.empty())
        error = "no --image WIM given (this program is started by endpointfix-offline --image)";
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n%s", kProgram, error.c_str(), kUsageText);
        return kUsage;
    }
    std::signal(SIGPIPE, SIG_IGN);
    note_interrupts();  // every mode: the copies are removed before a signal ends it
    if (const int removed = remove_dead_private_folders("wim"); removed > 0)
        refuse("endpointfix-offline-wim", "removed " + std::to_string(removed) +
                                              " temporary folder(s) left by runs that were stopped", 0);
    int status = 0;
    for (const std::string& wim : options.images) {
        if (interrupting_signal() != 0) break;
        status = std::max(status, service_archive(wim, options));
    }
    return end_by_interrupt(status);
}
