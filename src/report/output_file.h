// Files that framecmp writes besides standard output (the difference picture, the stats
// file): written into a temporary file beside the target and renamed over it when whole,
// so that a failed or interrupted run never leaves half a file in the target's place.
#ifndef FRAMECMP_REPORT_OUTPUT_FILE_H_
#define FRAMECMP_REPORT_OUTPUT_FILE_H_

#include <sys/types.h>

#include <optional>
#include <string>

namespace framecmp {

// True when `output_path` names the input file open as `input_fd` (given as
// `input_path`): the same path, or the same file through another name or a link.
bool is_input_file(const char* output_path, const char* input_path, int input_fd);

// True when the two output paths name one file: the same file through other spellings or
// links where it exists, the same resolved place where it does not yet.
bool same_output_file(const char* a, const char* b);

// The errno of an output at `path` that exists as a regular file the process may not
// write (EACCES), which it must not replace either; 0 for any other path.
int output_problem(const std::string& path);

// One output file being written. A path that exists and is no regular file (/dev/null, a
// FIFO, a terminal) is written into, never replaced; a link has its target replaced (or
// made, for a dangling one), so that the link stays. The ending signals (SIGINT, SIGTERM, SIGHUP)
// remove the temporary file, and a file size limit fails the writes instead of ending the
// process. At most two are open at a time.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  // Removes the temporary file unless it was committed.
  ~ReplacingFile();

  // Opens for writing what will become `path`; false when it cannot be, with error() the
  // errno of a file that exists and may not be written (0 for other failures).
  bool open(const std::string& path);
  int error() const { return error_; }
  // The descriptor to write to while open; -1 otherwise. Owned by this object.
  int fd() const { return fd_; }
  // Closes the file and puts it in place, with the mode any new file of the user's would
  // have; false (and nothing replaced) when that fails.
  bool commit();

 private:
  void discard();

  int fd_ = -1;
  std::string temporary_;  // empty when writing into a special file
  std::string target_;
  int slot_ = -1;  // the temporary's entry in the table the signal handler reads
  int error_ = 0;
  // The file that the output replaces: its mode bits, owner and group.
  struct Owner {
    mode_t mode;
    uid_t uid;
    gid_t gid;
  };
  std::optional<Owner> replaced_;
};

}  // namespace framecmp

#endif  // FRAMECMP_REPORT_OUTPUT_FILE_H_
