// End-to-end cases as data: each file of tests/e2e/cases/ makes its input files, runs the
// built framecmp with its arguments and checks standard output, standard error and the
// exit status byte for byte. A new case needs no C++.
//
// A case file, a statement a line ("#" lines are comments):
//   file NAME SIZE       a file of SIZE zero bytes ...
//   set OFFSET VALUE     ... with the byte at OFFSET (0-based) set to VALUE
//   text NAME ESCAPED    a file of the bytes of ESCAPED (\\ \n \r \t \xHH)
//   arg ESCAPED          the next argument
//   stdout / stderr      the lines that follow ("> LINE", or ">" for an empty line, each
//                        ESCAPED and ended by a newline) are that stream's whole text
//   status N             the exit status
// "@NAME" in arguments and texts stands for the path of file NAME in the case's folder;
// "$VERSION" for framecmp's version, "$BINARY" for the path it is run by.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Case {
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status = -1;
};

std::string unescape(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'n') {
      bytes += '\n';
    } else if (c == 'r') {
      bytes += '\r';
    } else if (c == 't') {
      bytes += '\t';
    } else if (c == 'x' && i + 2 < text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += c;
    }
  }
  return bytes;
}

// Reads a case file; the problem with it, or "".
std::string read_case(const fs::path& file, Case& c) {
  std::ifstream in(file, std::ios::binary);
  std::string* stream = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '>') {
      if (stream == nullptr) return "a '>' line outside stdout and stderr";
      *stream += unescape(line.size() > 2 ? line.substr(2) : "") + "\n";
      continue;
    }
    const std::size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    stream = word == "stdout" ? &c.out : word == "stderr" ? &c.err : nullptr;
    if (stream != nullptr) continue;
    std::istringstream fields(rest);
    if (word == "file") {
      std::string name;
      std::size_t size = 0;
      fields >> name >> size;
      c.files.emplace_back(name, std::string(size, '\0'));
    } else if (word == "set" && !c.files.empty()) {
      std::size_t at = 0;
      unsigned value = 0;
      fields >> at >> value;
      if (at >= c.files.back().second.size()) return "set beyond the file";
      c.files.back().second[at] = static_cast<char>(value);
    } else if (word == "text") {
      const std::size_t space = rest.find(' ');
      c.files.emplace_back(rest.substr(0, space),
                           space == std::string::npos ? "" : unescape(rest.substr(space + 1)));
    } else if (word == "arg") {
      c.args.push_back(unescape(rest));
    } else if (word == "status") {
      c.status = std::stoi(rest);
    } else {
      return "unknown statement \"" + word + "\"";
    }
  }
  return c.status < 0 ? "no status" : "";
}

// `text` with every "@name" replaced by the path of `name` in `dir`, "$VERSION" by
// framecmp's version and "$BINARY" by its path.
std::string resolve(std::string text, const std::string& dir) {
  for (std::size_t at; (at = text.find('@')) != std::string::npos;) {
    std::size_t end = at + 1;
    while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
    text.replace(at, end - at, dir + "/" + text.substr(at + 1, end - at - 1));
  }
  for (std::size_t at; (at = text.find("$VERSION")) != std::string::npos;) {
    text.replace(at, 8, FRAMECMP_VERSION);
  }
  for (std::size_t at; (at = text.find("$BINARY")) != std::string::npos;) {
    text.replace(at, 7, FRAMECMP_BINARY);
  }
  return text;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(FRAMECMP_CASES)) {
    if (entry.path().extension() == ".case") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class CliCase : public testing::TestWithParam<std::string> {};

TEST_P(CliCase, PrintsWhatItsFileSays) {
  Case c;
  const std::string problem = read_case(fs::path(FRAMECMP_CASES) / (GetParam() + ".case"), c);
  ASSERT_EQ(problem, "");
  char pattern[] = "/tmp/framecmp-case-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  for (const auto& [name, bytes] : c.files) {
    std::ofstream(dir + "/" + name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<std::string> args{FRAMECMP_BINARY};
  for (const std::string& arg : c.args) args.push_back(resolve(arg, dir));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (dir + "/.out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (dir + "/.err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, FRAMECMP_BINARY, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(read_file(dir + "/.out"), resolve(c.out, dir));
  EXPECT_EQ(read_file(dir + "/.err"), resolve(c.err, dir));
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), c.status);
  // A comparison reads its inputs and never changes them.
  for (const auto& [name, bytes] : c.files) EXPECT_EQ(read_file(dir + "/" + name), bytes) << name;
  fs::remove_all(dir);
}

// A case's test name: its file's name, with '_' for what a test name cannot hold.
std::string test_name(const testing::TestParamInfo<std::string>& param) {
  std::string name = param.param;
  std::replace_if(
      name.begin(), name.end(),
      [](const char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Data, CliCase, testing::ValuesIn(case_names()), test_name);

}  // namespace
