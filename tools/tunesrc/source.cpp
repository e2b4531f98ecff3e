#include "tools/tunesrc/source.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tunesrc {

namespace {

constexpr int kMaxIncludeDepth = 16;
constexpr size_t kMaxSourceBytes = 16u << 20;  // far beyond any sensible tune source

std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return folder + path;
}

bool readFileText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return false;
  text = buffer.str();
  return text.size() <= kMaxSourceBytes;
}

bool readInto(const std::string& given, const SourcePos& from, int depth,
              std::vector<std::string>& open, std::vector<SourceLine>& lines, BuildError& error) {
  // "a/patches/../main.tune" and "a/main.tune" are one file.
  const std::string path = std::filesystem::path(given).lexically_normal().string();
  if (std::find(open.begin(), open.end(), path) != open.end()) {
    error = {from, "'" + path + "' includes itself"};
    return false;
  }
  if (depth > kMaxIncludeDepth) {
    error = {from, "includes nest deeper than " + std::to_string(kMaxIncludeDepth)};
    return false;
  }
  std::string text;
  if (!readFileText(path, text)) {
    error = {from, "cannot read '" + path + "'"};
    return false;
  }
  open.push_back(path);
  std::istringstream in(text);
  std::string raw;
  int number = 0;
  while (std::getline(in, raw)) {
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    SourceLine line{{path, number}, {}};
    std::string message;
    if (!tokenize(raw, line.tokens, message)) {
      error = {line.pos, message};
      return false;
    }
    if (line.tokens.empty()) continue;
    if (line.tokens[0] == "include") {
      if (line.tokens.size() != 2) {
        error = {line.pos, "include takes one file name"};
        return false;
      }
      const std::string target = joinPath(folderOf(path), unquote(line.tokens[1]));
      if (!readInto(target, line.pos, depth + 1, open, lines, error)) return false;
      continue;
    }
    lines.push_back(std::move(line));
  }
  open.pop_back();
  return true;
}

void collectFiles(const std::string& given, int depth, std::vector<std::string>& files) {
  const std::string path = std::filesystem::path(given).lexically_normal().string();
  if (depth > kMaxIncludeDepth || std::find(files.begin(), files.end(), path) != files.end())
    return;
  files.push_back(path);
  std::string text;
  if (!readFileText(path, text)) return;
  std::istringstream in(text);
  std::string raw;
  std::vector<std::string> tokens;
  std::string message;
  while (std::getline(in, raw)) {
    if (!tokenize(raw, tokens, message) || tokens.size() != 2 || tokens[0] != "include") continue;
    collectFiles(joinPath(folderOf(path), unquote(tokens[1])), depth + 1, files);
  }
}

}  // namespace

std::vector<std::string> sourceFiles(const std::string& path) {
  std::vector<std::string> files;
  collectFiles(path, 0, files);
  return files;
}

std::string BuildError::text() const {
  if (pos.file.empty()) return message;
  if (pos.line <= 0) return pos.file + ": " + message;
  return pos.file + ":" + std::to_string(pos.line) + ": " + message;
}

bool tokenize(const std::string& text, std::vector<std::string>& tokens, std::string& error) {
  tokens.clear();
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    if (c == '#') break;
    if (c == '"') {
      const size_t close = text.find('"', i + 1);
      if (close == std::string::npos) {
        error = "unterminated string";
        return false;
      }
      tokens.push_back(text.substr(i, close + 1 - i));
      i = close + 1;
      continue;
    }
    const size_t start = i;
    while (i < n && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    tokens.push_back(text.substr(start, i - start));
  }
  return true;
}

bool isQuoted(const std::string& token) {
  return token.size() >= 2 && token.front() == '"' && token.back() == '"';
}

std::string unquote(const std::string& token) {
  return isQuoted(token) ? token.substr(1, token.size() - 2) : token;
}

bool readSource(const std::string& path, std::vector<SourceLine>& lines, BuildError& error) {
  std::vector<std::string> open;
  lines.clear();
  return readInto(path, SourcePos{}, 0, open, lines, error);
}

}  // namespace tunesrc
