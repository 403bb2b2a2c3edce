#pragma once

#include <QString>

// The fixed captions of the progress window's controls. The console face prints the same texts, so
// they are kept in one place.
namespace WindowCaptions {
inline QString title()
{
    return QStringLiteral("Site veröffentlichen");
}
inline QString cancellingTitle()
{
    return QStringLiteral("Wird abgebrochen");
}
inline QString labelprepare()
{
    return QStringLiteral("Ermittle zu übertragende Dateien");
}
inline QString labelConnect()
{
    return QStringLiteral("Verbinde mit Server");
}
inline QString labelFile()
{
    return QStringLiteral("Dateiübertragung");
}
inline QString Label1()
{
    return QStringLiteral("Zusammenfassung:");
}
// The heading of the result panel when it lists a preview instead of the summary.
inline QString previewHeading()
{
    return QStringLiteral("Vorschau:");
}
inline QString Label2()
{
    return QStringLiteral("Gesamtdauer:");
}
inline QString Label3()
{
    return QStringLiteral("Übertragen:");
}
inline QString Label5()
{
    return QStringLiteral("Geschwindigkeit:");
}
} // namespace WindowCaptions
