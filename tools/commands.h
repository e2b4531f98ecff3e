#pragma once
// The subcommands of the `tune` tool. Each takes the arguments after its own
// name (argv[0] is the subcommand name), prints errors as one line on stderr
// and returns the process exit status.

int runInspect(int argc, char** argv);
int runRender(int argc, char** argv);
int runPlay(int argc, char** argv);
int runBuild(int argc, char** argv);
int runImportMidi(int argc, char** argv);
