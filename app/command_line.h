#pragma once
// The demo programs' command line: no arguments but --help and --version,
// answered before anything is opened (no display, no audio device needed).

// Returns -1 when the program should go on (no arguments); otherwise the exit
// status: 0 after printing the usage text or the version line on stdout, 2
// after one line on stderr for anything else.
int answerCommandLine(const char* program, const char* usage, int argc, const char* const* argv);
