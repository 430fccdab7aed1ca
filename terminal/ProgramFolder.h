#pragma once
// The program's folder: where "Kelterm.ini" and the session logs live. It is
// the folder of the program file; when that folder cannot be written, or the
// program is an installed copy, the user's data folder takes its place. Main
// thread only.

#include <QString>

// The folder, without a trailing separator.
QString ProgramFolder();
// A file in the program's folder.
QString ProgramFilePath(const QString& name);
// Points the program's folder elsewhere (tests use a temporary folder); an
// empty path returns to the usual answer.
void SetProgramFolder(const QString& folder);
