#include "Paths.h"
#include "Security.h"

const wchar_t kAdminsOnlySddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// 0x116: add files, add folders, write their extended and plain attributes.
const wchar_t kUsersMayAddSddl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";

const wchar_t* SddlForNewFolder(TFolderRole role, bool portable, const std::wstring& folder,
                                const std::vector<std::wstring>& programFolders) {
    if (portable) return nullptr;
    switch (role) {
    case frDestination:
        for (const std::wstring& programs : programFolders)
            if (!programs.empty() && IsInFolder(PathWithoutSlash(folder), programs)) return nullptr;
        return kAdminsOnlySddl;
    case frSharedData:
    case frHiddenData:
        return kAdminsOnlySddl;
    case frPublicData:
        // Opened to the users (kUsersMayAddSddl) once the copying is over: until
        // then nobody else can put a link where the documents go.
        return kAdminsOnlySddl;
    }
    return kAdminsOnlySddl;
}
