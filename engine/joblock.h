// The locks a job holds on the names it writes and reads (platform/filelock.h), taken before
// its first question and held until it ends: a job that writes a set or a file holds its name
// exclusively, one that reads a set holds volume 0's name shared. Every job takes them through
// this one function, so the console and the window exclude each other alike.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/filelock.h"

// The locks of one job; released when it is destroyed.
class JobLocks {
public:
    // Takes the lock of every name, in one fixed order whoever asks (so that two jobs waiting
    // for each other's names cannot both wait forever), waiting as long as another program
    // holds one: the log says so once per name. The same name asked for twice is locked once,
    // exclusively if either asks so. Returns false, with the cancel logged, when a cancel
    // request ended the wait; names that could not be locked at all are used without a lock.
    bool Take(std::vector<std::pair<std::string, NameLockMode>> names);
    void Release() { m_locks.clear(); }

private:
    std::vector<std::unique_ptr<NameLock>> m_locks;
};
