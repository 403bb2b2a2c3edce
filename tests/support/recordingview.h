#pragma once

#include "uploadview.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

class FtpControl;

// A view for tests of the session: it hosts an FTP component (a real one or a scripted double) and
// a watchdog timer wired to the session like the window's, and records everything the session
// writes.
class RecordingView : public UploadView
{
public:
    // Takes ownership of the component. The watchdog timer is created but not started, so tests
    // decide when ticks happen (tick()) unless startWatchDog is true.
    explicit RecordingView(std::unique_ptr<FtpControl> ftp, bool startWatchDog = false);
    ~RecordingView() override;

    // Installs this view as the session's view.
    void install();

    FtpControl &ftpcontrol() override;
    void setCaption(ViewLabel label, const QString &caption) override;
    void setBold(ViewLabel label, bool bold) override;
    void setPicture(ViewPicture picture, int imageListIndex) override;
    void setFileText(const QString &text) override;
    void setProgress(float percent) override;
    void setPanelVisible(ViewPanel panel, bool visible) override;
    void setShowButtonVisible(bool visible) override;
    void setWatchDogEnabled(bool enabled) override;
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
    bool watchDogEnabled = false;
    int shown = 0;
    bool closeIsCancel = false;
    bool programEnded = false;
    QStringList previewLines;
    QStringList massDeletionQuestions;
    MassDeletion massDeletionAnswer = MassDeletion::SkipAndReport;
    std::optional<RunOutcome> outcome;
    QTimer watchDogTimer;

private:
    std::unique_ptr<FtpControl> mFtp;
};
