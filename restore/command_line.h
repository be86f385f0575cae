// The program's command line, split into arguments as Windows programs split theirs.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// Reads the first argument of `line`, a command line without the program's name, by the rules
// of CommandLineToArgvW. Spaces and tabs outside quotes separate arguments. A double quote
// opens quoting, or closes it; inside quoting, two double quotes in a row stand for one
// literal double quote and close it. A run of 2n backslashes before a double quote gives n
// backslashes, the quote then acting as above; 2n + 1 backslashes give n backslashes and a
// literal double quote. Backslashes before anything else stand for themselves. So
// /LOG="C:\my dir\x.log" and "/LOG=C:\my dir\x.log" are the same argument, and "" is an empty
// one.
//
// Writes as much of the argument as fits into `argument` (`size` bytes, at least 1), always
// terminated, and its whole length to `*length`, so that a caller can tell a cut argument.
// Returns where the rest of the line begins, or nullptr (writing nothing) when `line` is nullptr
// or holds no further argument.
const char* NextArgument(const char* line, char* argument, std::size_t size, std::size_t* length);

// Returns where the arguments begin in `line`, a whole command line as GetCommandLineA gives it:
// past the program's name, by CommandLineToArgvW's rule for that name, and the spaces and tabs
// after it. A name that opens with a double quote runs to the next double quote, backslashes and
// all, and an argument may follow it with no space ("C:\x\p.exe"/LOG is the name, then /LOG);
// any other runs to the first space or tab. nullptr for nullptr.
const char* SkipProgramName(const char* line);

// Finds the log switch on `command_line` (a command line without the program's name, split as
// NextArgument splits it; nullptr for none): "/LOG=path", or "/LOG" alone for
// restore-backup.log in the system's temporary directory, in any case; the last one counts.
// Writes the path of the log it asks for into `path` and returns true; returns false when there
// is no switch, or its path is empty or longer than MAX_PATH - 1.
bool LogPath(const char* command_line, char (&path)[MAX_PATH]);

// True when `command_line` (as LogPath takes it) holds the argument `name`, in any case, whole:
// "/EXITCODE" and "/RESTARTREPLACE" are such switches. `name` is given in lower case.
bool HasSwitch(const char* command_line, const char* name);
