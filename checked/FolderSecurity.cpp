#include "checked/FolderSecurity.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "framework/Handle.h"

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

// What Users have in the list above, in generic form too.
constexpr ACCESS_MASK kReadAndRun = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE | GENERIC_READ | GENERIC_EXECUTE;
constexpr ACCESS_MASK kRenameRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

struct CLocalFree {
    void operator()(void* memory) const { LocalFree(memory); }
};
using CLocalMemory = std::unique_ptr<void, CLocalFree>;

// The account this program runs as: an administrator, elevated, who could
// change any folder anyway. Under Wine it owns every folder it made.
PSID ProcessUser() {
    static std::unique_ptr<BYTE[]> user = [] {
        std::unique_ptr<BYTE[]> buffer;
        CAutoHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
            return buffer;
        DWORD size = 0;
        GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
        if (size > 0) {
            buffer.reset(new BYTE[size]);
            if (!GetTokenInformation(token.Get(), TokenUser, buffer.get(), size, &size))
                buffer.reset();
        }
        return buffer;
    }();
    return user ? reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid : nullptr;
}

bool IsAdministratorsSide(PSID sid) {
    static const char* const kSides[] = {"SY", "BA",
                                         // TrustedInstaller, which owns Program Files
                                         "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
    for (const char* side : kSides) {
        PSID known = nullptr;
        if (!ConvertStringSidToSidA(side, &known))
            continue;
        CLocalMemory held(known);
        if (EqualSid(sid, known))
            return true;
    }
    const PSID user = ProcessUser();
    return user && EqualSid(sid, user);
}

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

// Deny entries are passed over: they only take rights away. An allow entry
// of a kind not judged here (a conditional or an object entry) counts as
// allowing everything. An entry that only passes to what is made inside
// counts for kWrite alone: an existing entry keeps its own list.
bool OthersAllowed(HANDLE folder, OthersMay what, bool driveRoot) {
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &list, nullptr, &raw) != ERROR_SUCCESS)
        return true;
    CLocalMemory held(raw);
    // No list at all lets everyone do everything.
    if (!owner || !list || !IsAdministratorsSide(owner))
        return true;
    ACCESS_MASK rights = what == OthersMay::kWrite ? ~kReadAndRun : kRenameRights;
    // A drive root cannot be renamed or deleted.
    if (driveRoot)
        rights &= ~DELETE;
    for (DWORD i = 0; i < list->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(list, i, reinterpret_cast<void**>(&header)))
            return true;
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE ||
            header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
            header->AceType == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return true;
        if (what == OthersMay::kRename && (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        if ((ace->Mask & rights) && !IsAdministratorsSide(const_cast<DWORD*>(&ace->SidStart)))
            return true;
    }
    return false;
}
