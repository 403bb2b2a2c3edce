#pragma once

#include <QString>
#include <stdexcept>

// Raised by a FtpControl request that cannot be started at all: another request is still pending,
// an argument holds a line break, or a local file cannot be opened. A request that was started
// never raises; it ends with OperationComplete instead.
class FtpError : public std::runtime_error
{
public:
    FtpError(int number, const QString &description)
        : std::runtime_error(description.toStdString()), mNumber(number), mDescription(description)
    {}

    [[nodiscard]] int number() const noexcept { return mNumber; }
    [[nodiscard]] QString description() const { return mDescription; }

private:
    int mNumber;
    QString mDescription;
};
