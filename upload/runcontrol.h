#pragma once

#include <QString>

// The answer to a clean-up that would delete most of the site.
enum class MassDeletion {
    Delete,        // go ahead
    Skip,          // the user said no: skip the clean-up, upload, and report success
    SkipAndReport, // nobody could be asked: skip the clean-up, upload, and end with a message
};

// The answer to a changed certificate.
enum class CertificateAnswer {
    Accept,          // trust the new certificate in place of the old one, and go on
    Refuse,          // the user said no: the run ends without sending anything
    RefuseAndReport, // nobody could be asked: the run ends and says how to accept it
};

// What a face may do to the run it shows: the user's cancellation, the site's address, and the
// answers to the questions the run puts (UploadView). The session hands it to the face it creates
// (classUpload::ViewProvider), so a face acts on the run through these calls alone and never
// reaches into the session; the session alone decides what each means at the point the run is at.
class RunControl
{
public:
    // The user cancelled: the cancel button, Escape, closing the window, Ctrl+C. Whatever the run
    // waits for (the server, an answer), it stops at its next test and ends without a message.
    // The face neither waits for that nor processes events itself.
    virtual void cancel() = 0;
    // The published site's public address, as the settings give it.
    [[nodiscard]] virtual QString siteAddress() const = 0;
    // The answer to the question the run waits for, given at once or once the user has decided.
    // An answer to no open question (one given after a cancellation) changes nothing.
    virtual void answer(MassDeletion answer) = 0;
    virtual void answer(CertificateAnswer answer) = 0;

protected:
    ~RunControl() = default;
};
