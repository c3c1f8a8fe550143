#include "report/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace framecmp {
namespace {

// The temporary files being written, for the signal handler to remove. Written only while
// the ending signals are blocked in the one thread that takes them (the workers never do).
struct TemporarySlot {
  char path[PATH_MAX + 16];
  volatile std::sig_atomic_t set;
};
TemporarySlot g_temporaries[2];
int g_open_files = 0;  // ReplacingFiles open; the handlers are installed while any is
struct sigaction g_previous[3];
struct sigaction g_previous_size;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_temporaries_and_end(const int signal_number) {
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.set != 0) ::unlink(slot.path);
  }
  // SA_RESETHAND has restored the default action: the signal, once this returns, ends
  // the process as it would have without the handler.
  ::raise(signal_number);
}

sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : kEndingSignals) sigaddset(&set, signal_number);
  return set;
}

// Runs `change` with the ending signals blocked, so that no handler sees a half-made entry.
template <class Change>
void with_signals_blocked(Change change) {
  const sigset_t blocked = ending_signals();
  sigset_t old;
  ::pthread_sigmask(SIG_BLOCK, &blocked, &old);
  change();
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void install_handlers() {
  struct sigaction action {};
  action.sa_handler = remove_temporaries_and_end;
  action.sa_mask = ending_signals();
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    ::sigaction(kEndingSignals[i], &action, &g_previous[i]);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, &g_previous_size);
}

void restore_handlers() {
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
  }
  ::sigaction(SIGXFSZ, &g_previous_size, nullptr);
}

// Where `path` leads once every symbolic link on its last component is followed, even to
// a file that does not exist yet (a dangling link is written through, not replaced). A
// loop of links stops after as many hops as the kernel allows.
std::string link_target(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0) return path;
    const std::string next(target, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    path =
        next.front() == '/' || slash == std::string::npos ? next : path.substr(0, slash + 1) + next;
  }
  return path;
}

// `path` with its folder resolved (links, "." and ".."), for comparing two names of files
// that may not exist yet; the path as it stands where the folder cannot be resolved.
std::string resolved_path(const std::string& path) {
  const std::string target = link_target(path);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  char* const real = ::realpath(folder.c_str(), nullptr);
  if (real == nullptr) return target;
  std::string resolved = real;
  std::free(real);
  return resolved + "/" + target.substr(slash == std::string::npos ? 0 : slash + 1);
}

}  // namespace

bool is_input_file(const char* const output_path, const char* const input_path,
                   const int input_fd) {
  if (std::strcmp(output_path, input_path) == 0) return true;
  struct stat output {};
  struct stat input {};
  return ::stat(output_path, &output) == 0 && ::fstat(input_fd, &input) == 0 &&
         output.st_dev == input.st_dev && output.st_ino == input.st_ino;
}

bool same_output_file(const char* const a, const char* const b) {
  if (std::strcmp(a, b) == 0) return true;
  struct stat first {};
  struct stat second {};
  if (::stat(a, &first) == 0 && ::stat(b, &second) == 0) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  return resolved_path(a) == resolved_path(b);
}

int output_problem(const std::string& path) {
  struct stat status {};
  const std::string target = link_target(path);
  if (::stat(target.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  // Replacing a file takes only the folder's permission; the file's own must allow it too.
  return ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

ReplacingFile::~ReplacingFile() {
  discard();
}

bool ReplacingFile::open(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    // /dev/null, a FIFO, a terminal: written into, never replaced.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    return fd_ >= 0;
  }
  target_ = link_target(path);
  if (error_ = output_problem(target_); error_ != 0) return false;
  replaced_ =
      ::stat(target_.c_str(), &status) == 0
          ? std::optional<Owner>(Owner{status.st_mode & 07777, status.st_uid, status.st_gid})
          : std::nullopt;
  std::string pattern = target_ + ".XXXXXX";
  if (pattern.size() >= sizeof g_temporaries[0].path) return false;
  with_signals_blocked([&] {
    for (int i = 0; i < static_cast<int>(std::size(g_temporaries)); ++i) {
      if (g_temporaries[i].set == 0) {
        slot_ = i;
        break;
      }
    }
    if (slot_ < 0) return;
    if (g_open_files++ == 0) install_handlers();
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) {
      if (--g_open_files == 0) restore_handlers();
      slot_ = -1;
      return;
    }
    std::memcpy(g_temporaries[slot_].path, pattern.c_str(), pattern.size() + 1);
    g_temporaries[slot_].set = 1;
  });
  if (fd_ < 0) return false;
  temporary_ = pattern;
  return true;
}

bool ReplacingFile::commit() {
  if (fd_ < 0) return false;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (temporary_.empty()) return closed;
  // mkstemp makes the file private: a new output gets the mode any new file would have, a
  // replaced one keeps its own, and its owner and group where the process may give them.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  mode_t mode = 0666 & ~mask;
  if (replaced_) {
    mode = replaced_->mode;
    // Without its owner back, a set-user or set-group bit would change hands: dropped.
    if (::chown(temporary_.c_str(), replaced_->uid, replaced_->gid) != 0) mode &= 01777;
  }
  if (!closed || ::chmod(temporary_.c_str(), mode) != 0 ||
      std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    discard();
    return false;
  }
  temporary_.clear();
  discard();  // forgets the slot
  return true;
}

void ReplacingFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  if (slot_ < 0) return;
  with_signals_blocked([&] {
    g_temporaries[slot_].set = 0;
    if (--g_open_files == 0) restore_handlers();
  });
  slot_ = -1;
}

}  // namespace framecmp
