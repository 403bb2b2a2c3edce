#include "classupload.h"
#include "ftpcomponenthost.h"
#include "uploadview.h"

#include <QCoreApplication>

// The faces' hold on the run (RunControl): cancelling it, the site's address, and the answers to
// its questions. A question is put to the view without blocking and waited for here, in the run's
// own kind of wait, so the window's question box, the cancel button, a close of the window and
// Ctrl+C all reach the run through the same events and the same flags.

void classUpload::cancel()
{
    FTPCancel();
}

QString classUpload::siteAddress() const
{
    return RemoteURL();
}

void classUpload::answer(MassDeletion answer)
{
    if (mQuestion.open && std::holds_alternative<MassDeletion>(mQuestion.answer)) {
        mQuestion.answer = answer;
        mQuestion.open = false;
    }
}

void classUpload::answer(CertificateAnswer answer)
{
    if (mQuestion.open && std::holds_alternative<CertificateAnswer>(mQuestion.answer)) {
        mQuestion.answer = answer;
        mQuestion.open = false;
    }
}

MassDeletion classUpload::AskMassDeletion(qint64 filesToDelete, qint64 filesListed)
{
    return std::get<MassDeletion>(AwaitAnswer(MassDeletion::Skip, [&] {
        view().askMassDeletion(filesToDelete, filesListed, control());
    }));
}

CertificateAnswer classUpload::AskChangedCertificate(const ChangedCertificate &certificate)
{
    return std::get<CertificateAnswer>(AwaitAnswer(
        CertificateAnswer::Refuse, [&] { view().askChangedCertificate(certificate, control()); }));
}

classUpload::Answer classUpload::AwaitAnswer(Answer unanswered, const std::function<void()> &ask)
{
    mQuestion = {true, unanswered};
    // The user may take a while to answer; that is no silence of the server.
    ftpHost().setWatchDogEnabled(false);
    ask();
    // Blocks in the event dispatcher, as WaitForCompletion does: a question costs no processor
    // time however long it stays open.
    while (mQuestion.open && Outcome())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    mQuestion.open = false;
    ftpHost().setWatchDogEnabled(true);
    ResetWatchDog();
    return mQuestion.answer;
}
