// The single-instance lock: at most one desktop program runs per user.
//
// The lock is an exclusive flock() on a file named after the lock, in the user's runtime
// folder ($XDG_RUNTIME_DIR) or, without one, in a private folder /tmp/<name>-<uid> that only
// the user can enter. Taking the lock both tests and claims it in one step, so two programs
// that start at the same moment cannot both win. The kernel drops the lock when the last
// descriptor of the file closes, which happens whenever the process ends, also by a crash or
// a kill: a stale lock file never keeps the next instance out.
#pragma once

#include <string>

class InstanceLock {
public:
    // name: the lock's name, used as the file name; it must not contain a slash.
    explicit InstanceLock(std::string name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    enum Result {
        Acquired,      // this process now holds the lock
        HeldElsewhere, // another process holds it
        Unavailable,   // the lock file could not be made or opened; see Error()
    };

    // Tests and takes the lock without waiting. Calling it again while held answers Acquired.
    Result TryAcquire();
    // Gives the lock up (also done by the destructor and by the end of the process).
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

    // The file that carries the lock (empty until TryAcquire has chosen it).
    const std::string& Path() const { return m_path; }
    // Why the last TryAcquire answered Unavailable.
    const std::string& Error() const { return m_error; }

    // The folder for lock files: $XDG_RUNTIME_DIR when it is an absolute path to a folder
    // owned by the user, else /tmp/<name>-<uid>, created with mode 0700 and refused when it
    // is a link, belongs to someone else or is open to others. Empty on failure.
    static std::string LockFolder(const std::string& name, std::string* error);

private:
    std::string m_name;
    std::string m_path;
    std::string m_error;
    int m_fd = -1;
};
