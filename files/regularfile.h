#pragma once

#include <QString>
#include <QtGlobal>

// A file opened for reading only when it is a regular file. Opening a named pipe put in a file's
// place would wait for a writer and freeze the program, so it is opened without waiting and
// examined first: a pipe, a device or a folder is refused. The descriptor is closed with the
// object unless it was taken.
class RegularFileForReading
{
public:
    enum class State {
        Open,
        NotOpened,   // error() holds the system's reason
        NotExamined, // fstat failed; error() holds the reason
        NotRegular,
    };

    explicit RegularFileForReading(const QString &path);
    ~RegularFileForReading();
    RegularFileForReading(const RegularFileForReading &) = delete;
    RegularFileForReading &operator=(const RegularFileForReading &) = delete;

    [[nodiscard]] State state() const { return mState; }
    [[nodiscard]] bool isOpen() const { return mState == State::Open; }
    [[nodiscard]] int error() const { return mError; }
    // The size when it was opened; 0 unless open.
    [[nodiscard]] qint64 size() const { return mSize; }
    // The descriptor, still owned here; -1 unless open.
    [[nodiscard]] int descriptor() const { return isOpen() ? mDescriptor : -1; }
    // Hands the descriptor over, reads from it blocking again as usual; -1 unless open.
    [[nodiscard]] int take();

private:
    int mDescriptor = -1;
    State mState = State::NotOpened;
    int mError = 0;
    qint64 mSize = 0;
};
