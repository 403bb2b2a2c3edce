#include "labelfont.h"

#include <QFontDatabase>

QFont LabelFont()
{
    constexpr qreal kPointSize = 8.25;
    const QString tahoma = QStringLiteral("Tahoma");
    // hasFamily looks at the installed families only; fontconfig would otherwise happily hand out
    // a substitute under Tahoma's name, with different widths.
    QFont font = QFontDatabase::hasFamily(tahoma)
                     ? QFont(tahoma)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kPointSize);
    font.setBold(false);
    return font;
}
