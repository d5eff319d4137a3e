// The Windows program. It is linked as a windowed program, so it has no console and creates no
// window; the C runtime's start-up calls main, and the command line is accepted and ignored.
#include "app/run.h"
#include "registry/win32_store.h"

int main() {
    endpointfix::Win32Store registry;
    return endpointfix::run(registry);
}
