// The transfer of a backup tree into an installed tree.
#pragma once

// Moves every file below the directory `source` into the same relative place below the directory
// `destination`, replacing a file of the same name there, then removes `source` if that left it
// empty. Subdirectories are merged into the destination's same-named directories, never created:
// a file whose destination directory is missing stays where it is. Members whose names begin with
// "." stay where they are, with everything below them. A file that cannot be moved stays in the
// source, and the installed file it would have replaced stays as it was. Nothing is reported.
//
// Both paths are used as given: relative ones resolve against the current directory, and a
// trailing separator is kept (the joins then double it). A source whose path leaves no room for
// the search pattern in MAX_PATH characters is left untouched.
void MoveTree(const char* source, const char* destination);
