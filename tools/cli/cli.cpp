#include "tools/cli/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "orb_version.h"

namespace cli {

namespace {

void vreport(const char* program, const char* format, va_list args) {
  std::fprintf(stderr, "%s: ", program);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

// Temporaries that a terminating signal must remove. A signal handler can
// reach nothing but static storage, so the list is a fixed table; a slot's
// path is written before `used` is set.
constexpr int kMaxTemporaries = 8;
struct PendingTemporary {
  volatile std::sig_atomic_t used = 0;
  char path[PATH_MAX] = {};
};
PendingTemporary gPending[kMaxTemporaries];
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeTemporariesAndDie(int signal) {
  for (PendingTemporary& p : gPending) {
    if (p.used) ::unlink(p.path);
  }
  // Die of the same signal, so the caller sees how the program ended.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void installCleanupHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal : kCleanupSignals) {
    struct sigaction old {};
    sigaction(signal, nullptr, &old);
    // Leave alone what the program or its parent set up (ignored, or
    // handled by the program itself, as `tune play` does).
    if (old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal, &action, nullptr);
  }
}

int registerTemporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kMaxTemporaries; ++i) {
    if (gPending[i].used) continue;
    std::memcpy(gPending[i].path, path.c_str(), path.size() + 1);
    gPending[i].used = 1;
    installCleanupHandlers();
    return i;
  }
  return -1;
}

void unregisterTemporary(int slot) {
  if (slot >= 0) gPending[slot].used = 0;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The permissions a new file gets: 0666 less the process's umask.
mode_t newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void report(const char* program, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vreport(program, format, args);
  va_end(args);
}

void printVersion(const char* program) {
  const char* blank = std::strchr(program, ' ');
  const int length =
      blank ? static_cast<int>(blank - program) : static_cast<int>(std::strlen(program));
  std::printf("%.*s %s (%s)\n", length, program, kOrbVersion, kOrbRevision);
}

bool parseNumber(const char* text, double& out) {
  if (!*text || std::isspace(static_cast<unsigned char>(*text))) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno == ERANGE || *end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool parseInteger(const char* text, int64_t& out) {
  const char* digits = (*text == '-' || *text == '+') ? text + 1 : text;
  if (!std::isdigit(static_cast<unsigned char>(*digits))) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno == ERANGE || *end != '\0') return false;
  out = v;
  return true;
}

Args::Args(const char* program, int argc, char** argv, HelpPrinter help)
    : program_(program), argc_(argc), argv_(argv), help_(help) {}

bool Args::next() {
  if (status_ >= 0) return false;
  while (++index_ < argc_) {
    const char* a = argv_[index_];
    if (optionsEnded_) return true;
    if (!std::strcmp(a, "--")) {
      optionsEnded_ = true;
      continue;
    }
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      help_(stdout);
      status_ = kExitOk;
      return false;
    }
    if (!std::strcmp(a, "--version")) {
      printVersion(program_);
      status_ = kExitOk;
      return false;
    }
    return true;
  }
  return false;
}

bool Args::is(const char* name) const {
  return !optionsEnded_ && index_ < argc_ && !std::strcmp(argv_[index_], name);
}

const char* Args::value(const char* what) {
  optionAt_ = index_;
  if (index_ + 1 >= argc_) {
    usage("%s needs %s", argv_[index_], what);
    return nullptr;
  }
  return argv_[++index_];
}

void Args::invalid(const char* what) {
  usage("%s needs %s, not '%s'", argv_[optionAt_], what, argv_[optionAt_ + 1]);
}

bool Args::number(double& out, double low, double high, const char* what) {
  const char* text = value(what);
  if (!text) return false;
  double v = 0.0;
  if (!parseNumber(text, v) || v < low || v > high) {
    invalid(what);
    return false;
  }
  out = v;
  return true;
}

bool Args::integer(int64_t& out, int64_t low, int64_t high, const char* what) {
  const char* text = value(what);
  if (!text) return false;
  int64_t v = 0;
  if (!parseInteger(text, v) || v < low || v > high) {
    invalid(what);
    return false;
  }
  out = v;
  return true;
}

void Args::operand() {
  const char* a = argv_[index_];
  if (!optionsEnded_ && a[0] == '-' && a[1] != '\0') {
    usage("unknown option '%s' (try '%s --help')", a, program_);
    return;
  }
  operands_.push_back(a);
}

bool Args::operands(size_t min, size_t max, const char* names) {
  if (operands_.size() >= min && operands_.size() <= max) return true;
  usage("needs %s (try '%s --help')", names, program_);
  return false;
}

void Args::usage(const char* format, ...) {
  if (status_ >= 0) return;  // one message per run
  va_list args;
  va_start(args, format);
  vreport(program_, format, args);
  va_end(args);
  status_ = kExitUsage;
}

bool readFile(const char* program, const char* path, size_t limit, std::vector<uint8_t>& bytes) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    report(program, "cannot open '%s': %s", path, std::strerror(errno));
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  if (ok && !S_ISREG(info.st_mode)) {
    report(program, "cannot read '%s': not a regular file", path);
    ok = false;
  } else if (ok && static_cast<uint64_t>(info.st_size) > limit) {
    report(program, "cannot read '%s': %lld bytes, more than the %zu this program takes", path,
           static_cast<long long>(info.st_size), limit);
    ok = false;
  } else if (ok) {
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (ok && done < bytes.size()) {
      const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        report(program, "cannot read '%s': %s", path,
               got < 0 ? std::strerror(errno) : "the file shrank while being read");
        ok = false;
      } else {
        done += static_cast<size_t>(got);
      }
    }
  } else {
    report(program, "cannot read '%s': %s", path, std::strerror(errno));
  }
  ::close(fd);
  return ok;
}

std::string extensionOf(const std::string& path) {
  const std::string base = baseOf(path);
  const size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string ext = base.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool sameFile(const char* a, const char* b) {
  struct stat sa {
  }, sb{};
  if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool checkNotInput(const char* program, const char* output,
                   const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs) {
    if (!sameFile(output, input.c_str())) continue;
    if (input == output) {
      report(program, "'%s' is also an input; choose another output", output);
    } else {
      report(program, "'%s' is the same file as the input '%s'; choose another output", output,
             input.c_str());
    }
    return false;
  }
  return true;
}

OutputFile::OutputFile(const char* program, std::string target)
    : program_(program), target_(std::move(target)) {}

OutputFile::~OutputFile() {
  discard();
}

bool OutputFile::create() {
  discard();
  struct stat info {};
  if (::stat(target_.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    report(program_, "cannot write '%s': it is a folder", target_.c_str());
    return false;
  }
  if (::access(target_.c_str(), F_OK) == 0 && !S_ISREG(info.st_mode)) {
    // A device or a pipe (/dev/null, a FIFO) is written as it is: a
    // temporary renamed over it would replace the device with a file.
    direct_ = true;
    temporary_ = target_;
    return true;
  }
  // Beside the target, so the rename stays on one file system; hidden, so a
  // listing during a long run does not show it as a result.
  std::string name = folderOf(target_) + "/." + baseOf(target_) + ".XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    report(program_, "cannot write '%s': %s", target_.c_str(), std::strerror(errno));
    return false;
  }
  ::close(fd);
  temporary_ = name;
  slot_ = registerTemporary(temporary_);
  return true;
}

bool OutputFile::write(const void* data, size_t size) {
  const int fd = ::open(temporary_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  int error = fd < 0 ? errno : 0;
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (!error && done < size) {
    const ssize_t put = ::write(fd, bytes + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error = put < 0 ? errno : EIO;
    } else {
      done += static_cast<size_t>(put);
    }
  }
  if (fd >= 0 && ::close(fd) != 0 && !error) error = errno;
  if (error) report(program_, "cannot write '%s': %s", target_.c_str(), std::strerror(error));
  return !error;
}

bool OutputFile::commit() {
  if (temporary_.empty()) return false;
  if (direct_) {
    temporary_.clear();
    return true;
  }
  struct stat info {};
  const mode_t mode = ::stat(target_.c_str(), &info) == 0 ? (info.st_mode & 07777) : newFileMode();
  if (::chmod(temporary_.c_str(), mode) != 0 ||
      ::rename(temporary_.c_str(), target_.c_str()) != 0) {
    report(program_, "cannot write '%s': %s", target_.c_str(), std::strerror(errno));
    discard();
    return false;
  }
  unregisterTemporary(slot_);
  slot_ = -1;
  temporary_.clear();
  return true;
}

void OutputFile::discard() {
  if (direct_) {
    direct_ = false;
    temporary_.clear();
    return;
  }
  if (temporary_.empty()) return;
  ::unlink(temporary_.c_str());
  unregisterTemporary(slot_);
  slot_ = -1;
  temporary_.clear();
}

}  // namespace cli
