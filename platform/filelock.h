// Advisory locks on the names a job writes, so that two Pack Tools (two console commands, the
// window and a command) never write the same set or file at once, and a reader never reads a
// set while another program replaces it.
//
// The lock of a name NAME in a folder DIR is an flock on the file DIR/.NAME.lock: exclusive
// for a job that writes the name, shared for one that only reads it. The lock file is made
// when it is needed and removed by the last holder that can remove it safely:
// - a holder unlinks it only while it holds it exclusively (a shared holder first tries, without
//   waiting, to turn its lock into an exclusive one), so no one else holds or waits on a lock
//   that matters at that moment;
// - whoever gets a lock checks that the name still leads to the file it locked, and starts
//   again on the new file otherwise (someone removed it in between).
// A process that is killed leaves the file behind, unlocked: the kernel drops its lock, and
// the next holder removes the file when it is done.
//
// A folder where the lock file cannot be made (a read-only folder or medium, no permission):
// an existing lock file is opened for reading, which is enough to lock it. When there is none,
// the job goes without a lock: nobody can be writing there without making one first.
#pragma once

#include <string>

enum class NameLockMode {
    Shared,
    Exclusive
};

enum class NameLockResult {
    Locked,   // held
    Unlocked, // no lock file could be made or opened: the job goes without a lock
    Busy,     // another holder has it (TryLock only)
    Cancelled // the cancel request came while waiting (Lock only)
};

class NameLock {
public:
    NameLock() = default;
    ~NameLock(); // releases
    NameLock(const NameLock&) = delete;
    NameLock& operator=(const NameLock&) = delete;

    // The lock file of a path: ".NAME.lock" in the path's folder.
    static std::string LockFileFor(const std::string& path);

    // Takes the lock of path without waiting.
    NameLockResult TryLock(const std::string& path, NameLockMode mode);
    // Takes the lock of path, waiting as long as another holder has it. onWait is called once,
    // before the first wait. A cancel request (platform/files.h) ends the wait.
    template <typename OnWait>
    NameLockResult Lock(const std::string& path, NameLockMode mode, OnWait onWait)
    {
        NameLockResult result = TryLock(path, mode);
        if (result != NameLockResult::Busy)
            return result;
        onWait();
        while ((result = TryLock(path, mode)) == NameLockResult::Busy) {
            if (PauseOrCancelled())
                return NameLockResult::Cancelled;
        }
        return result;
    }

    bool Held() const { return m_fd >= 0; }
    // Drops the lock, removing the lock file when that is safe.
    void Release();

private:
    // Sleeps a little; true when the cancel request came.
    static bool PauseOrCancelled();

    int m_fd = -1;
    std::string m_lockPath;
};
