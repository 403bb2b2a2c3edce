#pragma once

#include <QString>
#include <stdexcept>

// An unexpected error that ends the program: main shows its number and description in an error box
// and exits with status 1. Only problems the run cannot sensibly go on from are raised this way (a
// local file that cannot be read, a setting whose number does not fit); everything the server or
// the user causes is recorded by the session and shown as the run's result instead.
//
// The numbers follow the classic runtime error numbers, so a support request that quotes one says
// what kind of problem it was.
class ProgramError : public std::runtime_error
{
public:
    enum Number : int {
        Overflow = 6,
        FileNotFound = 53,
        PermissionDenied = 70,
        PathFileAccessError = 75,
    };

    ProgramError(int number, const QString &description)
        : std::runtime_error(description.toStdString()), mNumber(number), mDescription(description)
    {}

    [[nodiscard]] int number() const noexcept { return mNumber; }
    [[nodiscard]] QString description() const { return mDescription; }

private:
    int mNumber;
    QString mDescription;
};
