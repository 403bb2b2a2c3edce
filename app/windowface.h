#pragma once

#include <QString>

struct CommandLine;

// The window face of the program: the progress window with its QApplication, and the message
// boxes of start-up.
//
// It lives in a module of its own, parcelup-window.so, that the program loads only when it opens a
// window. A library the program is linked with is loaded before main() runs, whether it is used or
// not; so the window, Qt Widgets and Qt GUI with everything below them (X11, fonts, OpenGL) would
// cost every publication from a terminal their start-up time and memory. The module takes the
// session, the FTP component and start-up from the program itself, which exports them.

// Runs start-up and the run with the window, and the window's event loop afterwards; returns the
// exit status. argc must live as long as the program (QApplication keeps a reference).
using WindowFaceEntry = int (*)(int &argc, char **argv, const CommandLine &line);

// The name under which the module exports its WindowFaceEntry.
inline constexpr char WindowFaceEntryName[] = "ParcelupRunWindowFace";
// The module's file name; it is looked for beside the program (the program's folder, with its
// animation clip, in the build tree and in the installation alike).
inline constexpr char WindowFaceModuleName[] = "parcelup-window.so";

// Loads the module and returns its entry, or nothing with error set to the loader's reason.
[[nodiscard]] WindowFaceEntry LoadWindowFace(QString *error);
// The same from the given folder, for the test that loads the module as the program does.
[[nodiscard]] WindowFaceEntry LoadWindowFaceFrom(const QString &folder, QString *error);
