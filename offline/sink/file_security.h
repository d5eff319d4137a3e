// The security of a file that is replaced by a new one: what says who may read and change it
// beyond its mode and owner, kept in extended attributes.
#pragma once

#include <string>

namespace endpointfix::offline {

// Gives the new file open at `to` every extended attribute the file at `from` has: each one
// its listing shows (user.*, security.*, trusted.* where this process may see them, the POSIX
// ACL system.posix_acl_access among them) and the Windows security descriptor that ntfs-3g
// keeps as system.ntfs_acl, which no listing shows and is asked for by name. Each is read back
// from `to` after all are set, byte for byte. Call it after the new file's owner and mode are
// set: a change of mode may rewrite an ACL. Returns an empty string, or why an attribute
// cannot be read from `from` or kept on `to` (the caller then must not put `to` in its place:
// it would be open to more than `from` was).
std::string copy_security(const std::string& from, int to);

}  // namespace endpointfix::offline
