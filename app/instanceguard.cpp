#include "instanceguard.h"

#include "systemhelpers.h"

InstanceGuard::InstanceGuard(const QString &lockFilePath) : mLock(lockFilePath)
{
    // QLockFile would otherwise call a running copy's lock stale after 30 seconds.
    mLock.setStaleLockTime(0);
}

QString InstanceGuard::defaultLockPath()
{
    return GetTempFolder() + QStringLiteral("parcelup.lock");
}

bool InstanceGuard::tryAcquire()
{
    return mLock.isLocked() || mLock.tryLock(0);
}
