#pragma once
// What every command-line program of the project shares: the exit statuses,
// one-line messages, walking the arguments with number parsing, reading
// whole input files, and outputs that appear only when they are complete.
//
// A typical command:
//
//   cli::Args args("tune render", argc, argv, printHelp);
//   while (args.next()) {
//     if (args.is("--float")) o.asFloat = true;
//     else if (args.is("--seed")) args.integer(o.seed, 0, UINT32_MAX, "a whole number, 0 to ...");
//     else args.operand();
//   }
//   if (!args.ok() || !args.operands(2, 2, "IMAGE OUT")) return args.status();
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// Exit statuses of every program.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// "<program>: <message>" as one line on stderr.
void report(const char* program, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "<name> <version> (<revision>)" on stdout, where name is the program's
// first word ("tune render" prints as "tune").
void printVersion(const char* program);

// The whole text is one finite decimal number.
bool parseNumber(const char* text, double& out);
// The whole text is one base-10 whole number (an optional sign, digits).
bool parseInteger(const char* text, int64_t& out);

// Walks a command line: options may stand anywhere among the operands, "--"
// ends the options, "-" alone is an operand. --help (-h) and --version are
// handled here.
class Args {
 public:
  using HelpPrinter = void (*)(FILE*);
  // argv[0] is the command's own name and is skipped.
  Args(const char* program, int argc, char** argv, HelpPrinter help);

  // Moves to the next argument. False at the end, and once --help or
  // --version has been answered or a usage error reported.
  bool next();
  // The current argument is the option `name`.
  bool is(const char* name) const;
  const char* current() const { return argv_[index_]; }

  // The value after the current option; null after reporting
  // "OPTION needs WHAT" when there is none.
  const char* value(const char* what);
  // The value as a number (whole number) within [low, high]; false after
  // reporting "OPTION needs WHAT, not 'VALUE'".
  bool number(double& out, double low, double high, const char* what);
  bool integer(int64_t& out, int64_t low, int64_t high, const char* what);
  // Reports the value just taken as wrong: "OPTION needs WHAT, not 'VALUE'".
  void invalid(const char* what);

  // Keeps the current argument as an operand, or reports an unknown option.
  void operand();
  // After the walk: between min and max operands, else reports
  // "needs NAMES (try '... --help')".
  bool operands(size_t min, size_t max, const char* names);
  const std::vector<const char*>& list() const { return operands_; }

  // Reports a usage error in the program's words.
  void usage(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // True while the command should run: no help, version or usage error.
  bool ok() const { return status_ < 0; }
  // The exit status once !ok(): 0 after --help or --version, 2 after a
  // usage error.
  int status() const { return status_ < 0 ? kExitOk : status_; }
  const char* program() const { return program_; }

 private:
  const char* program_;
  int argc_;
  char** argv_;
  HelpPrinter help_;
  int index_ = 0;
  int optionAt_ = 0;  // the option whose value was taken last
  bool optionsEnded_ = false;
  int status_ = -1;
  std::vector<const char*> operands_;
};

// Reads a whole regular file of at most `limit` bytes; false after a
// one-line report naming the file and the reason.
bool readFile(const char* program, const char* path, size_t limit, std::vector<uint8_t>& bytes);

// The file's extension in lower case, without the dot ("" when none).
std::string extensionOf(const std::string& path);

// True when both paths name one existing file (same device and inode, so
// hard and symbolic links count).
bool sameFile(const char* a, const char* b);

// False after a one-line report when the output is the same file as one of
// the inputs (the program then exits with kExitUsage).
bool checkNotInput(const char* program, const char* output, const std::vector<std::string>& inputs);

// An output that appears only when complete: its content goes to a
// temporary file beside the target, renamed over the target by commit().
// Until then an existing target is untouched; a failed run (the object
// destroyed without commit) and SIGINT, SIGTERM or SIGHUP remove the
// temporary, so nothing half-written is ever left behind. A target that is a
// device or a pipe (/dev/null) is written in place.
class OutputFile {
 public:
  OutputFile(const char* program, std::string target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the empty temporary; false after a report (a folder that does
  // not exist or is not writable, a target that is a folder).
  bool create();
  // Where the content is written until commit().
  const std::string& path() const { return temporary_; }
  const std::string& target() const { return target_; }
  // Writes the whole content to the temporary; false after a report.
  bool write(const void* data, size_t size);
  // Gives the temporary the target's permissions (or a new file's) and
  // renames it over the target; false after a report. Whoever wrote to
  // path() must have closed it first.
  bool commit();
  // Removes the temporary (also done by the destructor unless committed).
  void discard();

 private:
  const char* program_;
  std::string target_;
  std::string temporary_;
  int slot_ = -1;        // entry in the signal handler's list of temporaries
  bool direct_ = false;  // the target is a device or a pipe, written in place
};

}  // namespace cli
