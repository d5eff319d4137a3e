#include "offline/image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "offline/image/backing_file.h"

namespace endpointfix::offline::image {

Result unusable_image(const std::string& image) {
    struct stat st;
    if (stat(image.c_str(), &st) != 0) return failed("cannot open", errno);
    if (S_ISDIR(st.st_mode)) return Result::refused("is a directory, not a disk image");
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return Result::refused("is not a disk image");
    if (S_ISREG(st.st_mode) && st.st_size < 512)
        return Result::refused("is not a disk image (shorter than a sector)");
    if (access(image.c_str(), R_OK) != 0) return failed("cannot open", errno);
    // QEMU locks the images it has open; libguestfs would read one shared, as it is being written.
    struct flock probe {};
    probe.l_type = F_WRLCK, probe.l_whence = SEEK_SET;
    const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    const bool locked = fd >= 0 && fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    if (fd >= 0) close(fd);
    if (locked)
        return Result::refused(
            "is in use by another process (a running virtual machine?): it holds a lock on it");
    return {};
}

std::string backing_file_refusal(const std::string& image, const std::string& format) {
    BackingFile backing;
    if (format == "qcow2") {
        std::string header(kBackingHeaderBytes, '\0');
        const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t got = fd >= 0 ? pread(fd, header.data(), header.size(), 0) : -1;
        const int error = errno;
        if (fd >= 0) close(fd);
        header.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        backing = qcow2_backing_file(header);
        if (got < 0) backing.unreadable = failed("cannot read its header", error).message();
    } else {
        backing.unreadable = "this program reads the name from qcow2 images only";
    }
    const std::string named = !backing.name.empty()
                                  ? "names the backing file " + backing.name
                                  : "names a backing file (" +
                                        (backing.unreadable.empty() ? "its name is not readable"
                                                                    : backing.unreadable) +
                                        ")";
    return named + ", which is not opened: an image may name any file of this machine. Make one "
                   "image of the two, once you trust the backing file, with qemu-img convert -O " +
           format + " " + image + " FLAT, and service FLAT";
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
