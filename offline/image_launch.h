// `endpointfix-offline --image`: disk images are served by a helper program of their own,
// endpointfix-offline-image, shipped in a package of its own, so that servicing hive files never
// needs libguestfs and the QEMU and kernel it brings; Windows installation images (WIMs) by
// endpointfix-offline-wim, in its package, which brings wimlib and libntfs-3g.
#pragma once

namespace endpointfix::offline {

// Replaces this process with the helper, handing it `argv` after the program's name, as the
// user gave them: the helper is found beside this program, else in the installation's libexec
// folder. Returns only where there is none, or it cannot start: 2, with a line on stderr that
// says which package to install. `wim` picks the WIM helper.
int start_image_helper(char** argv, bool wim = false);

}  // namespace endpointfix::offline
