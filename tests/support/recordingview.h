#pragma once

#include "uploadview.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

class FtpControl;

// A view for tests of the session: it records everything the session writes, and puts the test's
// FTP component (a real one or a scripted double) in the session when it is installed.
class RecordingView : public UploadView
{
public:
    // Keeps the component until install(). The session's watchdog timer is held still, so tests
    // decide when ticks happen, unless startWatchDog is true.
    explicit RecordingView(std::unique_ptr<FtpControl> ftp, bool startWatchDog = false);
    ~RecordingView() override;

    // Installs this view as the session's view, and the component as the session's component:
    // call it after fresh(), since a fresh session starts with a component of its own.
    void install();

    // The component, in the session once installed.
    [[nodiscard]] FtpControl &ftpcontrol() { return *mComponent; }
    // The session's watchdog timer (after install()).
    [[nodiscard]] static QTimer &watchDogTimer();
    void setCaption(ViewLabel label, const QString &caption) override;
    void setBold(ViewLabel label, bool bold) override;
    void setPicture(ViewPicture picture, int imageListIndex) override;
    void setFileText(const QString &text) override;
    void setProgress(float percent) override;
    void setPanelVisible(ViewPanel panel, bool visible) override;
    void setShowButtonVisible(bool visible) override;
    void showNonModal() override;
    void makeCloseTheCancelButton() override;
    void endProgram() override;
    void addPreviewLine(const QString &line) override { previewLines.append(line); }
    [[nodiscard]] MassDeletion confirmMassDeletion(const QString &question) override
    {
        massDeletionQuestions.append(question);
        return massDeletionAnswer;
    }
    void setOutcome(RunOutcome reported) override { outcome = reported; }

    QString caption(ViewLabel label) const { return captions.value(int(label)); }
    bool bold(ViewLabel label) const { return bolds.value(int(label)); }
    int picture(ViewPicture picture) const { return pictures.value(int(picture)); }

    QHash<int, QString> captions;
    QHash<int, bool> bolds;
    QHash<int, int> pictures;
    QString fileText;
    QStringList fileTexts; // every text the file box showed, in order
    QStringList timeTexts; // every remaining-time text, in order
    float progress = 0;
    bool frameWaitVisible = false;
    bool frameResultVisible = false;
    bool showButtonVisible = true;
    int shown = 0;
    bool closeIsCancel = false;
    bool programEnded = false;
    QStringList previewLines;
    QStringList massDeletionQuestions;
    MassDeletion massDeletionAnswer = MassDeletion::SkipAndReport;
    std::optional<RunOutcome> outcome;

private:
    std::unique_ptr<FtpControl> mOwned;
    FtpControl *mComponent = nullptr;
    bool mStartWatchDog = false;
};
