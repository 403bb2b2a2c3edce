#pragma once

#include "uploadview.h"

#include <QString>
#include <optional>

// The German texts for what the session reports (UploadView), shared by the faces so that the
// window, the terminal and the tests say the same thing in the same words. The words come from the
// string table; numbers are written the way the run has always shown them.
namespace ViewTexts {

// The remaining-time line at the start of a run, before any file was sent.
[[nodiscard]] QString remainingTimeUnknown();
// The remaining-time line after a file: "Restdauer: 1 Minute 20 Sekunden", "Restdauer: beinahe
// fertig" for 0, and empty while there is no estimate.
[[nodiscard]] QString remainingTime(std::optional<qint32> secondsLeft);
// While the run waits to try again after a fault.
[[nodiscard]] QString retryPending(qint32 secondsLeft);
// The overall progress in percent, or nothing when there is nothing to send.
[[nodiscard]] std::optional<float> progressPercent(qint64 bytesDone, qint64 bytesTotal);

// The caption of the file step while the run handles a file: "Übertrage Datei:".
[[nodiscard]] QString fileActionCaption(FileAction action);

// The summary's figures: "12 Dateien (345 KB)", the duration, "1,25 KB/Sekunde".
[[nodiscard]] QString transferred(const RunSummary &summary);
[[nodiscard]] QString duration(const RunSummary &summary);
[[nodiscard]] QString speed(const RunSummary &summary);

// A message of the string table with its arguments put in for %1, %2, ... in one pass, so that a
// "%2" inside a name stays as it is; followed by its second sentence, when it has one.
[[nodiscard]] QString message(const UserMessage &message);
// The second sentence alone, empty when the message has none.
[[nodiscard]] QString detail(const UserMessage &message);

// One line of a preview, fixed at its beginning so that a script can read it.
[[nodiscard]] QString previewLine(PreviewAction action, const QString &remotePath, qint64 bytes);
// The question before a clean-up that would delete most of the site.
[[nodiscard]] QString massDeletionQuestion(qint64 filesToDelete, qint64 filesListed);
// The question before trusting a changed certificate: the host, both fingerprints, whom the new
// one was issued for and by whom, its validity, and what it can mean; in lines, with each
// fingerprint in two halves, so that no line is wider than a message box.
[[nodiscard]] QString certificateQuestion(const ChangedCertificate &certificate);

} // namespace ViewTexts
