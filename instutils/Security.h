// What keeps an elevated setup out of other users' reach: links planted in its
// way, the permissions of the folders it makes, and starting the installed
// program as the desktop's user rather than with the setup's own token.
#pragma once
#include <string>
#include <vector>

// ---- Which permissions a folder the setup makes gets (no Windows call).
enum TFolderRole : int { frDestination, frSharedData, frHiddenData, frPublicData };

// Program Files' own: the system and administrators full control, users read
// and execute, nothing inherited from above.
extern const wchar_t kAdminsOnlySddl[];
// ProgramData's own: users may add files and folders and own what they add
// (the shared documents' folder, once the setup has written into it).
extern const wchar_t kUsersMayAddSddl[];

// The descriptor (SDDL) a new folder of that role is made with; nil: it inherits
// from its parent. A portable copy keeps its folder's permissions; a destination
// inside one of the program folders gets theirs by inheritance.
const wchar_t* SddlForNewFolder(TFolderRole role, bool portable, const std::wstring& folder,
                                const std::vector<std::wstring>& programFolders);

// ---- The file system (Windows calls).
// The program folders of this system (32-bit, 64-bit), as its settings name them.
std::vector<std::wstring> ProgramFolders();

// A security descriptor made from SDDL, for CreateDirectoryW's attributes.
class TSecurityDescriptor {
public:
    explicit TSecurityDescriptor(const wchar_t* sddl); // nil: none (inherited)
    ~TSecurityDescriptor();
    TSecurityDescriptor(const TSecurityDescriptor&) = delete;
    TSecurityDescriptor& operator=(const TSecurityDescriptor&) = delete;
    // SECURITY_ATTRIBUTES*, nil when there is no descriptor.
    void* Attributes() { return descriptor_ ? attributes_ : nullptr; }

private:
    void* descriptor_ = nullptr;
    alignas(void*) unsigned char attributes_[32] = {};
};

// Replaces the folder's permissions, passing the inherited part on to what it holds.
bool SetFolderSddl(const std::wstring& folder, const wchar_t* sddl);

// The first existing folder of the path (from its root down) that is a
// junction, a symbolic link or a mount point that someone other than the
// system, TrustedInstaller or the administrators owns; empty when there is none.
// A redirection whose tag cannot be read counts as one (Wine reports no tags).
std::wstring UntrustedLinkIn(const std::wstring& folder);

// Whether the file at the path is not itself a plain file of that name: a link
// (symbolic or any reparse point), a hard link with other names, or a handle
// that ends elsewhere than the path says. Nothing there, or nothing that can be
// opened, is no link. Such a file is neither read nor written.
bool IsLinkedFile(const std::wstring& path);
// The error a refused link reports (GetLastError()).
unsigned long LinkRefusedError();

// ---- Starting the installed program.
// Whether this process runs with an elevated token.
bool IsElevated();
// Starts the program as a child of the desktop shell's process, so that it
// inherits the shell's token (the desktop's user). False when there is no shell
// window or the process cannot be started that way.
bool StartAsDesktopUser(const std::wstring& program, const std::wstring& folder,
                        unsigned long* processId = nullptr);
