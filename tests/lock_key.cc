// lock_key PATH...: lets everyone read these keys below HKEY_LOCAL_MACHINE (native view) and only
// SYSTEM write them, as some Windows installations lock the endpoint store. Exits 1 on failure.
#include <windows.h>

#include <sddl.h>  // after windows.h, which it needs

int main(int argc, char** argv) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    int failed = !ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;;KRSD;;;WD)(A;;KA;;;SY)", SDDL_REVISION_1, &sd, nullptr);
    for (int i = 1; i < argc && !failed; ++i) {
        HKEY key;
        failed = RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[i], 0, WRITE_DAC | KEY_WOW64_64KEY, &key) ||
                 RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) || RegCloseKey(key);
    }
    return failed;
}
