#!/usr/bin/python3
# failing_fs.py SOURCE MOUNT RULE...: a read-only view of the folder SOURCE at MOUNT, served in
# the foreground until it is unmounted, whose reads fail as a failing disk's do, for the offline
# tests. RULE is NAME:eio:OFFSET, where a read of the file NAME (a path below SOURCE) that reaches
# the byte at OFFSET fails with EIO (the kernel then reads page by page: only that page fails),
# or NAME:short:OFFSET, where the file's data ends at OFFSET while its size stays as it was.
import errno
import os
import sys

try:
    from fusepy import FUSE, FuseOSError, Operations  # Debian's name for it
except ImportError:
    from fuse import FUSE, FuseOSError, Operations


class FailingView(Operations):
    def __init__(self, source, rules):
        self.source, self.rules = source, {}
        for rule in rules:
            name, kind, offset = rule.rsplit(":", 2)
            self.rules["/" + name] = (kind, int(offset))

    def getattr(self, path, fh=None):
        st = os.lstat(self.source + path)
        return {key: getattr(st, key) for key in ("st_mode", "st_nlink", "st_uid", "st_gid",
                                                  "st_size", "st_atime", "st_mtime", "st_ctime")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self.source + path)

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        return 0

    def read(self, path, size, offset, fh):
        kind, at = self.rules.get(path, ("", -1))
        if kind == "eio" and offset <= at < offset + size:
            raise FuseOSError(errno.EIO)
        if kind == "short":
            size = max(0, min(size, at - offset))
        with open(self.source + path, "rb") as f:
            f.seek(offset)
            return f.read(size)


if __name__ == "__main__":
    FUSE(FailingView(sys.argv[1], sys.argv[3:]), sys.argv[2], foreground=True, ro=True,
         attr_timeout=0, entry_timeout=0)
