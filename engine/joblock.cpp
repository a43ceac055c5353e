#include "engine/joblock.h"

#include <algorithm>
#include <map>

#include "engine/jobcontext.h"
#include "engine/format.h"
#include "platform/strings.h"
#include "resources/textids.h"

bool JobLocks::Take(std::vector<std::pair<std::string, NameLockMode>> names)
{
    Release();
    // By lock file: the order every job takes them in, and one lock for two ways of naming a file.
    std::map<std::string, std::pair<std::string, NameLockMode>> byLockFile;
    for (const auto& name : names) {
        auto& entry = byLockFile[NameLock::LockFileFor(name.first)];
        if (entry.first.empty() || name.second == NameLockMode::Exclusive)
            entry = name;
    }
    for (const auto& byFile : byLockFile) {
        const std::pair<std::string, NameLockMode>& name = byFile.second;
        auto lock = std::make_unique<NameLock>();
        const NameLockResult result = lock->Lock(name.first, name.second, [&] {
            AppendStatus(FormatText(LoadString(IDS_NAME_LOCK_WAITING).c_str(), name.first.c_str()));
        });
        if (result == NameLockResult::Cancelled) {
            Release();
            AppendStatusId(IDS_JOB_CANCELLED);
            return false;
        }
        m_locks.push_back(std::move(lock));
    }
    return true;
}
