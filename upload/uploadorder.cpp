#include "uploadorder.h"

#include <QStringList>
#include <algorithm>

namespace {

// Suffixes of pages that servers deliver as pages, whether written by hand, generated or run on
// the server (includes and scripts that make pages).
const QStringList kPageSuffixes{
    QStringLiteral(".html"),  QStringLiteral(".htm"),  QStringLiteral(".xhtml"),
    QStringLiteral(".shtml"), QStringLiteral(".shtm"), QStringLiteral(".php"),
    QStringLiteral(".php3"),  QStringLiteral(".php4"), QStringLiteral(".php5"),
    QStringLiteral(".phtml"), QStringLiteral(".asp"),  QStringLiteral(".aspx"),
    QStringLiteral(".jsp"),   QStringLiteral(".cfm"),  QStringLiteral(".cgi"),
    QStringLiteral(".pl"),
};

// 0: used by pages, 1: a page, 2: the upload log.
int rank(const UploadItem &item)
{
    if (IsUploadLog(item.Path))
        return 2;
    return IsPage(item.Path) ? 1 : 0;
}

} // namespace

QString UploadLogName()
{
    return QStringLiteral("vellumixftplog.log");
}

bool IsUploadLog(const QString &path)
{
    QString bare = path;
    if (bare.startsWith(QLatin1Char('\\')))
        bare.remove(0, 1);
    return bare.compare(UploadLogName(), Qt::CaseInsensitive) == 0;
}

bool IsPage(const QString &path)
{
    return std::any_of(
        kPageSuffixes.cbegin(), kPageSuffixes.cend(),
        [&path](const QString &suffix) { return path.endsWith(suffix, Qt::CaseInsensitive); });
}

void OrderForVisitors(QList<UploadItem> &items)
{
    std::stable_sort(items.begin(), items.end(),
                     [](const UploadItem &a, const UploadItem &b) { return rank(a) < rank(b); });
}
