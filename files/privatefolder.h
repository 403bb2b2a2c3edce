#pragma once

#include <QString>

// The folders the program keeps its own files in: change markers, trusted certificates, the lock,
// the debug log when the program's folder is read-only. Nobody else may read them, so a folder
// that is a link someone planted, or belongs to another user, is not used.

// $XDG_STATE_HOME/vellumix/parcelup/ (by default ~/.local/state/vellumix/parcelup/), ending with
// "/", without creating or checking anything. A relative XDG_STATE_HOME is invalid and ignored.
[[nodiscard]] QString StateFolderPath();

struct PrivateFolderOutcome
{
    enum class State {
        Ready,
        NotCreated, // error holds the system's reason
        NotPrivate, // a link, no folder, another user's, or it cannot be closed to others
    };
    State state = State::Ready;
    int error = 0;

    [[nodiscard]] bool ready() const { return state == State::Ready; }
};

// Creates the folder, and the missing folders above it with the usual permissions, the folder
// itself as 0700. One that exists must be a real folder and this user's; if it is open to others it
// is closed.
[[nodiscard]] PrivateFolderOutcome MakePrivateFolder(const QString &folder);

// True when the folder exists, is this user's and is closed to everybody else. Changes nothing.
[[nodiscard]] bool IsPrivateFolder(const QString &folder);
