#include "deploy/FolderSecurity.h"

#include <sddl.h>

namespace {

// A folder made below a drive root inherits the root's "Authenticated
// Users: Modify": any user of the machine could replace the module every
// CAD user loads. So the install folder and every level made for it carry
// their own protected list, given to the call that creates them, never set
// by name afterwards. Nothing writes into the install folder at run time
// (the settings go to the user's roaming folder), so no user needs more
// than read and execute there. The ACEs pass to what is made inside (the
// copies' temporary folders, the files).
constexpr char kInstallFolderSddl[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

}  // namespace

PSECURITY_DESCRIPTOR InstallFolderSecurity() {
    // Built once and kept for the life of the process.
    static PSECURITY_DESCRIPTOR descriptor = [] {
        PSECURITY_DESCRIPTOR built = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kInstallFolderSddl, SDDL_REVISION_1, &built, nullptr))
            return PSECURITY_DESCRIPTOR{nullptr};
        return built;
    }();
    return descriptor;
}
