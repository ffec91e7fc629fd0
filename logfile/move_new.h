// Moving a finished file to its name only when no file of that name exists:
// the system's own no-replace move, with no fallback that copies over an
// existing file. move_new_linux.cpp, move_new_win32.cpp.
#pragma once

#include <QString>

#include <functional>
#include <string>

// Moves `from` to `to`. Returns "" when moved; else the system's reason,
// with *existed true when the reason is a file (or anything) at `to`, which
// is then left as it was.
std::string MoveToNewName(const QString& from, const QString& to, bool* existed);

// For tests: called just before the move, with `to`, so that a test can
// make a file appear there at the last moment.
extern std::function<void(const QString& to)> g_before_move;
