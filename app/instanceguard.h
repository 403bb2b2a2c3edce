#pragma once

#include <QLockFile>
#include <QString>

// Makes sure only one copy of the program publishes at a time: two runs against the same server
// would overwrite each other's upload log and clear each other's change markers.
//
// The lock is a file in the per-user private folder. A lock left behind by a copy that crashed
// names a process that no longer runs and is taken over; a running copy's lock never goes stale by
// age.
class InstanceGuard
{
public:
    explicit InstanceGuard(const QString &lockFilePath = defaultLockPath());

    // parcelup.lock in GetTempFolder().
    [[nodiscard]] static QString defaultLockPath();

    // True when this is the only running copy; the lock is then held until the guard is destroyed.
    [[nodiscard]] bool tryAcquire();

private:
    QLockFile mLock;
};
