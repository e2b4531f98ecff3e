#pragma once
// Reading tune source text: files into lines of tokens, include expansion,
// and the error record every stage of the compiler reports through.
#include <string>
#include <vector>

namespace tunesrc {

// Where a line came from, for messages of the form "FILE:LINE: text".
struct SourcePos {
  std::string file;
  int line = 0;
};

struct BuildError {
  SourcePos pos;
  std::string message;
  // "FILE:LINE: message", or the message alone when it has no position.
  std::string text() const;
};

// One non-empty line, split into tokens. Tokens are separated by blanks; a
// token starting with '#' begins a comment that runs to the end of the line
// ("c#4" is a token, "# text" a comment); a double-quoted string is one token,
// kept with its quotes so that callers can tell it from a word.
struct SourceLine {
  SourcePos pos;
  std::vector<std::string> tokens;
};

// Splits one line of text. False with a message when a quote is not closed.
bool tokenize(const std::string& text, std::vector<std::string>& tokens, std::string& error);

// True when the token is a double-quoted string; `unquote` strips the quotes.
bool isQuoted(const std::string& token);
std::string unquote(const std::string& token);

// Reads a source file into lines, expanding every top-level line
// `include PATH` (PATH relative to the including file's folder, quoted or
// bare) in place. Includes may nest; a file that includes itself, directly or
// through others, is an error.
bool readSource(const std::string& path, std::vector<SourceLine>& lines, BuildError& error);

// The files a source reads: `path` and every file it includes, in the order
// first read. A file that cannot be read is listed but not followed, so that
// its coming back can be noticed; a line that does not tokenize is skipped.
std::vector<std::string> sourceFiles(const std::string& path);

}  // namespace tunesrc
