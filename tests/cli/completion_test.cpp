// The bash completion file, run in bash: it offers every option the command line knows,
// every pixel format, the report kinds, and file names where a file goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "input/pixel_format.h"

namespace framecmp {
namespace {

// What the completion offers for the words of a command line, the last being completed,
// sorted; run in `directory`.
std::vector<std::string> complete(const std::vector<std::string>& words,
                                  const std::string& directory = ".") {
  std::string script = "cd '" + directory + "' && source '" FRAMECMP_COMPLETION "' && COMP_WORDS=(";
  for (const std::string& word : words) script += "'" + word + "' ";
  script += "); COMP_CWORD=" + std::to_string(words.size() - 1) +
            "; _framecmp; printf '%s\\n' \"${COMPREPLY[@]}\"";
  std::string quoted = "'";
  for (const char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  FILE* const pipe = popen(("bash --norc --noprofile -c " + quoted).c_str(), "r");
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    text.append(buffer, got);
  pclose(pipe);
  std::vector<std::string> offered;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) offered.push_back(line);
  }
  std::sort(offered.begin(), offered.end());
  return offered;
}

std::vector<std::string> sorted(std::vector<std::string> words, const std::string& prefix = "") {
  for (std::string& word : words) word = prefix + word;
  std::sort(words.begin(), words.end());
  return words;
}

TEST(Completion, OffersWhatTheCommandLineKnows) {
  EXPECT_EQ(complete({"framecmp", "--"}), sorted(option_names()));
  EXPECT_EQ(complete({"framecmp", "--size=17x9", "--pix-fmt="}),
            sorted(pixel_format_names(), "--pix-fmt="));
  // Readline splits "--pix-fmt=" at the "=", or the value is the next word.
  EXPECT_EQ(complete({"framecmp", "--pix-fmt", "=", ""}), sorted(pixel_format_names()));
  EXPECT_EQ(complete({"framecmp", "--pix-fmt", ""}), sorted(pixel_format_names()));
  EXPECT_EQ(complete({"framecmp", "--test-pix-fmt", "nv"}), sorted({"nv12", "nv21"}));
  EXPECT_EQ(complete({"framecmp", "--report="}),
            sorted({"samples", "blocks", "frames", "summary", "md5"}, "--report="));
  EXPECT_EQ(complete({"framecmp", "--diff-scale", "a"}), sorted({"auto"}));
  EXPECT_EQ(complete({"framecmp", "--rep"}), sorted({"--report="}));
  EXPECT_EQ(complete({"framecmp", "--size", ""}), std::vector<std::string>{});
  // A metric list goes on after its last comma, with the registry's names.
  EXPECT_EQ(complete({"framecmp", "--metric=ssim,vmaf"}),
            sorted({"ssim,vmaf", "ssim,vmaf-neg", "ssim,vmaf-ssim"}, "--metric="));
  EXPECT_EQ(complete({"framecmp", "--ctc="}), sorted({"aom"}, "--ctc="));
}

TEST(Completion, OffersFileNamesWhereAFileGoes) {
  const std::string directory = testing::TempDir() + "completion";
  ASSERT_EQ(std::system(("mkdir -p '" + directory + "' && cd '" + directory +
                         "' && : > dec.yuv && : > ref.yuv && : > --raw.yuv")
                            .c_str()),
            0);
  EXPECT_EQ(complete({"framecmp", "--size=4x4", "d"}, directory), sorted({"dec.yuv"}));
  EXPECT_EQ(complete({"framecmp", "--diff-image=r"}, directory),
            sorted({"ref.yuv"}, "--diff-image="));
  // After "--" a name that looks like an option is a file.
  EXPECT_EQ(complete({"framecmp", "--", "--r"}, directory), sorted({"--raw.yuv"}));
}

}  // namespace
}  // namespace framecmp
