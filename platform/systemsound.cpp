#include "systemhelpers.h"

#include <QFileInfo>
#include <canberra.h>

namespace {

// The classic event names map onto the freedesktop sound theme's events.
const char *freedesktopEventFor(const QString &soundName)
{
    if (soundName == QLatin1String("SystemHand"))
        return "dialog-error";
    if (soundName == QLatin1String("SystemAsterisk"))
        return "dialog-information";
    return nullptr;
}

// Without a sound server and without sound devices nothing could be heard anyway, and the sound
// libraries would fill the terminal of a publication run over SSH with complaints about missing
// cards.
bool soundOutputExists()
{
    if (!qEnvironmentVariableIsEmpty("PULSE_SERVER") ||
        QFileInfo(QStringLiteral("/dev/snd")).isDir())
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && (QFileInfo::exists(runtime + QStringLiteral("/pulse/native")) ||
                                  QFileInfo::exists(runtime + QStringLiteral("/pipewire-0")));
}

// One context for the whole process: libcanberra plays asynchronously, and destroying the context
// right after ca_context_play would cut the sound off.
ca_context *soundContext()
{
    static ca_context *context = [] {
        ca_context *created = nullptr;
        if (ca_context_create(&created) != CA_SUCCESS)
            return static_cast<ca_context *>(nullptr);
        ca_context_change_props(created, CA_PROP_APPLICATION_NAME, "Parcelup", nullptr);
        return created;
    }();
    return context;
}

} // namespace

void PlaySystemSound(const QString &soundName)
{
    const char *event = freedesktopEventFor(soundName);
    if (event == nullptr || !soundOutputExists())
        return;
    ca_context *context = soundContext();
    if (context == nullptr)
        return;
    // The result is ignored on purpose: no theme, no device or no sound server simply means
    // silence.
    ca_context_play(context, 0, CA_PROP_EVENT_ID, event, nullptr);
}
