#include "offline/image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace endpointfix::offline::image {

std::string unusable_image(const std::string& image) {
    struct stat st;
    if (stat(image.c_str(), &st) != 0) return std::string("cannot open: ") + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "is a directory, not a disk image";
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return "is not a disk image";
    if (S_ISREG(st.st_mode) && st.st_size < 512)
        return "is not a disk image (shorter than a sector)";
    if (access(image.c_str(), R_OK) != 0)
        return std::string("cannot open: ") + std::strerror(errno);
    // QEMU locks the images it has open; libguestfs would read one shared, as it is being written.
    struct flock probe {};
    probe.l_type = F_WRLCK, probe.l_whence = SEEK_SET;
    const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    const bool locked = fd >= 0 && fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    if (fd >= 0) close(fd);
    if (locked)
        return "is in use by another process (a running virtual machine?): it holds a lock on it";
    return "";
}

std::string start_failure(const std::string& messages, const std::string& error) {
    const std::string said = messages + error;
    if (said.find("Failed to get") != said.npos && said.find("lock") != said.npos)
        return "is in use by another process (a running virtual machine?): QEMU cannot lock it";
    return "cannot start libguestfs' appliance (" + error +
           "); where KVM does not work (a nested virtual machine), set "
           "LIBGUESTFS_BACKEND_SETTINGS=force_tcg; LIBGUESTFS_DEBUG=1 shows why";
}

}  // namespace endpointfix::offline::image
