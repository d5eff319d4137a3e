// The folder an edition's hive is copied out into, with the volume its new hive is put back
// from: TMPDIR/endpointfix-wim.PID.XXXXXX, only this user's.
#pragma once

#include <string>

namespace endpointfix::offline::wim {

// Created at once, removed with all it holds when this object goes. path() is empty where it
// could not be created.
class WorkFolder {
public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Removes the work folders of runs that died (killed, or the machine stopped) before they could:
// those whose process is gone. Returns how many.
int remove_dead_work_folders();

}  // namespace endpointfix::offline::wim
