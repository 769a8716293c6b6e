// The install procedure: what the wizard does on its progress page, on entering
// its finish page and when it closes. Everything it needs and records is in the
// install session, so a whole installation runs without any window.
#pragma once
#include "InstallSession.h"
#include "Product.h"
#include <cstdint>
#include <string>

class TAttachedFiles;

// The data folder of a kind (DataFolderPath), made (with "Made Dir: " lines
// while the log is not muted).
std::wstring GetDataFolder(TInstallSession& session, int kind, bool portable);

// A junction, symbolic link or mount point that someone other than the system
// or the administrators made in a folder the installation writes into (the
// destination, the shared data folder, its Hidden and Public folders and the
// shared documents' folders), asked before anything is written; empty: none.
std::wstring PlantedLinkInTheWay(const std::wstring& mainDir, bool portable);

// Whether the folder can be an installation's destination, asked before
// anything is written: no character Windows refuses in a name, a drive or share
// that exists, no file in the way, and a folder chain that can be made (it is
// made and taken away again, so that the installation logs it as it makes it).
// When it cannot, why tells the reason (for the run log).
bool DestinationUsable(const std::wstring& folder, std::wstring* why = nullptr);

// A drive without room for what the installation would write there.
struct TSpaceShortfall {
    std::wstring Drive; // its root ("E:\\"), or the folder its volume is mounted at
    std::uint64_t Needed = 0, Free = 0;
};

// Asked before anything is written: whether each drive the installation writes
// to (the destination's, the shared data folder's) has the room that the
// entries it would select take there, each rounded up to the drive's clusters
// (a file that is replaced counts whole: its new copy is written beside it
// first), and a margin for the records. False with the first drive short of
// room; a drive whose free space cannot be read is not refused here (the writes
// find out). The run log gets the figures of each drive.
bool SpaceSuffices(const TAttachedFiles& files, const std::wstring& mainDir, bool portable,
                   TSpaceShortfall& shortfall, TRunLog* trace = nullptr);
// A size as the boxes show it, "12,5 Mo" or "1,2 Go", rounded up or down.
std::string FrenchSize(std::uint64_t bytes, bool roundUp);

// Selects the entries and their destinations.
void PrepareInstall(TInstallSession& session, TAttachedFiles& files, bool portable);

// The progress page: log, selection, install stamp, and the payload files,
// each inflated and written block by block. False when a file could not be
// written and the installation must stop, or when the person chose to stop
// between two files.
bool RunInstall(TInstallSession& session, TAttachedFiles& files);

// Once the copying is over, however it ended: a shared documents folder this run
// made becomes the users' to add to.
void OpenSharedDocuments(TInstallSession& session);

// Entering the finish page: the state file, then the portable marker or the
// shortcuts. False when a state file could not be written and the person (or a
// silent run) chose to stop.
bool FinishInstall(TInstallSession& session);

// The closing step (page 6): the shared-file update log of a normal installation.
void CloseInstall(TInstallSession& session, TAttachedFiles& files);

// After the wizard, when the copying began and the copy is not portable:
// Install.log whole (its hash pending in the journal key first), then the
// settings and, when the program is there whole, the uninstall entry, both with
// Install.log's hash, then the journal and its key removed. An Install.log that
// cannot be written ends the run with 2 and writes neither settings nor entry
// (the journal stays); other failures are told in the run log.
void RecordInstall(TInstallSession& session);

// Once an installation has succeeded (not portable), each earlier one in
// another folder is removed through the uninstaller, the new one's records and
// files kept, so that the one uninstall entry describes all that is installed.
// What could not be removed is told in the run log; the exit code stays.
void ReplaceEarlierCopies(TInstallSession& session);

// The 25 bytes of qrd_common.dat for a moment.
std::string CommonStateBytes(double now);
