#pragma once

#include <QString>

// Thin wrappers around the few desktop services the program uses outside the FTP component.

// Plays a system event sound by its classic name ("SystemHand" for a failure, "SystemAsterisk" for
// a success) without waiting for it. An unknown name, a missing sound theme or a machine without
// sound output plays nothing; there is no fallback sound and no error.
void PlaySystemSound(const QString &soundName);

// The per-user private folder for temporary files, ending with "/". It is $XDG_RUNTIME_DIR when
// that is set, otherwise "parcelup-<uid>" below the system's temporary folder, created with mode
// 0700. A shared world-writable folder is never returned: an existing "parcelup-<uid>" that is a
// symbolic link, is not a folder or belongs to someone else raises ProgramError.
[[nodiscard]] QString GetTempFolder();

// The per-user folder for the program's own state (change markers, trusted certificates, the debug
// log when the program's folder is read-only): $XDG_STATE_HOME/vellumix/parcelup, by default
// ~/.local/state/vellumix/parcelup. Created with mode 0700 when missing; ends with "/".
[[nodiscard]] QString GetStateFolder();
// The same folder's path without creating anything: StateFolderPath() (privatefolder.h).

// True when the path names an existing folder. The empty text is false; errors never escape.
[[nodiscard]] bool FolderExists(const QString &folderPath);
