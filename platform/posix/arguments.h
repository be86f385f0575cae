// The process's arguments, as a Windows program's command line.
#pragma once

// Joins the `count` strings of `arguments` into one command line, separated by single spaces,
// each quoted the way Windows programs expect where it must be (when it is empty, or holds a
// space, a tab, a newline, a vertical tab or a double quote), so that splitting the line by
// CommandLineToArgvW's rules gives back exactly `arguments`. Returns a new string to be released
// with std::free, or nullptr when the heap has no block for it.
char* JoinArguments(int count, const char* const* arguments);

// The whole command line of a process started with `count` arguments (at least 1): the first, the
// program's name, in double quotes and without any double quote of its own (the rule that skips
// a name ends it at the next one), then a space and the rest as JoinArguments joins them. A new
// string to be released with std::free, or nullptr when the heap has no block for it.
char* JoinCommandLine(int count, const char* const* arguments);

// Makes `line` (kept, not copied; nullptr for an empty one) what GetCommandLineA returns.
void SetCommandLine(char* line);
