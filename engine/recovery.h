// Recovery files beside a packed file or a set: data from which a lost or damaged volume is
// rebuilt, in the PAR2 format, made and read by the program par2 (par2cmdline) run as a
// subprocess (platform/subprocess.h). The packed files stay exactly as they are; the recovery
// files sit beside them under the set's name, NAME.par2 and NAME.volXX+YY.par2, so that
// `par2 repair NAME.par2` works by hand and any PAR2 tool on any system reads them.
//
// Making them (the pack and split jobs): par2 writes into a temporary folder beside the set,
// and the files are renamed into place only when par2 has made all of them and each one fits
// on a disk of the set's volume size; recovery files of an earlier set of the same name go.
// A failure (no par2, a full disk, a cancel) is reported with its reason; the set stays.
//
// Using them (the unpack and test jobs): the set's files and the recovery files are linked
// into a temporary folder of their own, and par2 verifies and repairs there. Nothing it does
// touches the user's files: a damaged volume's link is what par2 renames aside, and a rebuilt
// volume is a new file in that folder, which goes with the folder.
#pragma once

#include <string>
#include <vector>

// The program that makes and reads the recovery files, looked for on PATH.
constexpr const char* RECOVERY_PROGRAM = "par2";

// How much recovery data a pack or a split writes.
struct RecoveryAmount {
    int volumes = 0; // a set: any this many volumes lost or damaged can be rebuilt
    int percent = 0; // recovery data as a percentage of the packed data
    bool Wanted() const { return volumes > 0 || percent > 0; }
};

// The recovery amount a user typed: "N" volumes (1 to 99) or "P%" (1% to 100%). False for
// anything else.
bool ParseRecoveryAmount(const std::string& text, RecoveryAmount& amount);

// The recovery index of a packed file: NAME.par2 in its folder.
std::string RecoveryIndexPath(const std::string& packedPath);

// True when fileName is a recovery file of the set named baseName: baseName.par2 or
// baseName.volA+B.par2, in any letter case.
bool IsRecoveryFileName(const std::string& fileName, const std::string& baseName);

// The recovery files of the set that packedPath names: in its folder, then in searchDirs.
// The index NAME.par2 comes first when there is one. A name found in two folders counts once.
std::vector<std::string> FindRecoveryFiles(const std::string& packedPath,
                                           const std::vector<std::string>& searchDirs = {});

// Writes the recovery files of the packed file or set that packedPath names, with amount of
// recovery data; volumeSize is the set's V (0 for a whole packed file), which no recovery file
// may exceed. Runs on the job's worker and logs what it wrote, or why nothing was written.
// Recovery files of an earlier set of the name go in any case: they describe files that are no
// longer there. Returns true when the new ones are all in place; written names them.
bool WriteRecoveryFiles(const std::string& packedPath, const RecoveryAmount& amount, int volumeSize,
                        std::vector<std::string>& written);

// After a pack or split that wrote no recovery files: removes the recovery files of
// packedPath's name beside it, which described the set just replaced, each with a log line.
void RemoveStaleRecoveryFiles(const std::string& packedPath);

// A file of the set that par2 found damaged or missing.
struct DamagedFile {
    std::string name; // as the recovery files name it
    int volume = -1;  // its volume number, -1 for a whole packed file
    bool missing = false;
    long blocksFound = 0; // damaged: the blocks of it that are sound, of blocksTotal
    long blocksTotal = 0;
};

// What the recovery files beside a set say about it.
struct RecoveryExamination {
    enum Kind {
        NoRecoveryFiles, // none beside the set: the jobs go on as they always did
        ProgramMissing,  // there are some, but par2 is not installed
        Unusable,        // par2 cannot use them (damaged beyond use, not for this set)
        Sound,           // every file of the set matches them
        Repairable,      // files are damaged or missing, and can be rebuilt
        NotRepairable,   // files are damaged or missing beyond what they can rebuild
        Cancelled,       // the job was cancelled while par2 ran
    };
    Kind kind = NoRecoveryFiles;
    std::string recoveryFile;         // the recovery file the texts name (NAME.par2), as found
    std::vector<DamagedFile> damaged; // Repairable, NotRepairable
    long blocksShort = 0;             // NotRepairable: recovery blocks still needed
    std::string reason;               // Unusable: par2's own words
    bool Damaged() const { return kind == Repairable || kind == NotRepairable; }
};

// A temporary folder where par2 examines and rebuilds a set without touching it. Removed,
// with everything in it, when the object goes.
class RecoveryWorkFolder {
public:
    RecoveryWorkFolder() = default;
    ~RecoveryWorkFolder();
    RecoveryWorkFolder(const RecoveryWorkFolder&) = delete;
    RecoveryWorkFolder& operator=(const RecoveryWorkFolder&) = delete;

    // Finds the recovery files of packedPath (FindRecoveryFiles) and has par2 verify the set's
    // files against them: those beside packedPath, else in searchDirs, in any letter case.
    RecoveryExamination Examine(const std::string& packedPath,
                                const std::vector<std::string>& searchDirs);
    // After a Repairable examination: par2 rebuilds the damaged and missing files in the
    // folder. Returns true when it did; reason says why not otherwise.
    bool Rebuild(std::string& reason);
    // The path of the set's file name in the folder: a link to the user's file, or the file
    // rebuilt there.
    std::string PathOf(const std::string& name) const;

private:
    RecoveryExamination Verify();
    std::string m_folder;
    std::string m_program;
    std::string m_index;      // the recovery file par2 is given, in the folder
    std::string m_shownIndex; // the same as the user knows it
    std::string m_packedBase; // the set's base name
};

// One line for each damaged or missing file of an examination ("Volume 2 ('p.2KX') is
// missing."), for the test's warnings, the unpack's log and the question before a rebuild.
std::vector<std::string> DescribeDamage(const RecoveryExamination& examination);

// The test's verdict on a set that its recovery files find damaged: "FILE: repairable: volume
// 2 can be rebuilt from NAME.par2." or that it is damaged beyond them.
std::string DescribeRecoveryVerdict(const RecoveryExamination& examination,
                                    const std::string& file);

// The line for recovery files that could not be used (no par2, or par2 could not use them),
// saying how to get par2 when it is missing; empty for the other kinds.
std::string DescribeUnusedRecovery(const RecoveryExamination& examination);

// The unpack job's use of the recovery files of its set, before the join. Examines the set;
// when files are damaged or missing and can be rebuilt, names them and asks (a box), rebuilds
// them into the work folder, checks each rebuilt file against a manifest of ours beside the
// set (manifest.h) and sets joinFrom to the work folder's volume 0. Every other case leaves
// joinFrom as it is, with a log line that says what the recovery files could not do. Returns
// false when the job must end: a cancel, or rebuilt bytes that the manifest refuses.
bool RebuildForUnpack(RecoveryWorkFolder& folder, const std::string& packedPath,
                      const std::vector<std::string>& searchDirs, std::string& joinFrom,
                      RecoveryExamination& examination);
