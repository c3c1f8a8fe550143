// The --html page in a real browser: Debian's Chromium, headless, opens pages made from a
// few runs and hands back the document its script built. Each page must load with no
// error and nothing fetched (its script notes both in #problems), draw every line with a
// point per frame, and say the verdict the run said. A screenshot of each is kept in the
// build folder (html-*.png). Without Chromium the tests are skipped, unless
// FRAMECMP_REQUIRE_BROWSER is set (CI sets it).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char* chromium() {
  const char* path = std::getenv("FRAMECMP_CHROMIUM");
  if (path == nullptr) path = "/usr/bin/chromium";
  return access(path, X_OK) == 0 ? path : nullptr;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The flags that keep Chromium from reaching out on a closed network.
std::string browser(const std::string& profile) {
  return std::string(chromium()) +
         " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
         " --disable-background-networking --disable-component-update --disable-sync"
         " --user-data-dir=" +
         profile;
}

// Frames of side x side 4:2:0: a ramp with noise, and the test `mode`: 0 lossy
// everywhere, 1 a damaged 16x16 block in frame 3, 2 identical.
void write_pair(const std::string& dir, const int frames, const int mode, const int side = 64) {
  std::string ref, test;
  std::uint32_t state = 5;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 16;
  };
  for (int f = 0; f < frames; ++f) {
    for (int i = 0; i < side * side * 3 / 2; ++i) {
      const int x = i % side, y = i / side;
      const int r = (x * 3 + y + f * 5 + static_cast<int>(next() % 8)) % 256;
      int t = r;
      if (mode == 0) t = std::min(255, std::max(0, r + static_cast<int>(next() % 7) - 3));
      if (mode == 1 && f == 3 && i < side * side && x >= 16 && x < 32 && y >= 16 && y < 32) {
        t = 255 - r;
      }
      ref += static_cast<char>(r);
      test += static_cast<char>(t);
    }
  }
  std::ofstream(dir + "/ref.yuv", std::ios::binary) << ref;
  std::ofstream(dir + "/test.yuv", std::ios::binary) << test;
}

struct Page {
  std::string dom;      // the document after the page's script ran
  std::string verdict;  // what the run wrote on standard error, trimmed
  long bytes = 0;
};

// Runs framecmp with `options` on the pair in `dir` into `name`.html, and opens the page.
Page make_page(const std::string& dir, const std::string& options, const std::string& name,
               const int side = 64) {
  Page page;
  const std::string html = dir + "/" + name + ".html", err = dir + "/" + name + ".err";
  const std::string size = std::to_string(side) + "x" + std::to_string(side);
  const std::string command = std::string(FRAMECMP_BINARY) + " --size=" + size + " --html=" + html +
                              " " + options + " " + dir + "/test.yuv " + dir +
                              "/ref.yuv >/dev/null 2>" + err;
  EXPECT_EQ(std::system(command.c_str()) == -1, false);
  page.verdict = read_file(err);
  const std::size_t first = page.verdict.find_first_not_of('\n');
  const std::size_t last = page.verdict.find_last_not_of('\n');
  page.verdict = first == std::string::npos ? "" : page.verdict.substr(first, last - first + 1);
  struct stat info {};
  if (stat(html.c_str(), &info) == 0) page.bytes = info.st_size;
  const std::string dom = dir + "/" + name + ".dom";
  const std::string open =
      browser(dir + "/profile") + " --dump-dom file://" + html + " >" + dom + " 2>/dev/null";
  EXPECT_EQ(std::system(open.c_str()), 0) << open;
  page.dom = read_file(dom);
  const std::string shot = browser(dir + "/profile") +
                           " --window-size=1200,2400 --screenshot=" + "html-" + name +
                           ".png file://" + html + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(shot.c_str()), 0) << shot;
  return page;
}

std::string unescaped(std::string text) {
  for (const auto& [entity, character] : std::vector<std::pair<std::string, std::string>>{
           {"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
    for (std::size_t at = 0; (at = text.find(entity, at)) != std::string::npos; ++at) {
      text.replace(at, entity.size(), character);
    }
  }
  return text;
}

// What every page must show: loaded with no problem and nothing fetched, the verdict of
// the run, and `frames` points on every line.
void expect_sound(const Page& page, const int frames, const std::size_t plots) {
  EXPECT_NE(page.dom.find("data-ready=\"yes\""), std::string::npos) << "the script did not finish";
  EXPECT_NE(page.dom.find("id=\"problems\" hidden=\"\" data-count=\"0\""), std::string::npos)
      << page.dom.substr(page.dom.find("id=\"problems\""), 300);
  EXPECT_NE(page.dom.find("data-resources=\"0\""), std::string::npos);
  // (By hand: libstdc++'s regex recurses over a 10,000-point attribute.)
  const std::size_t verdict = page.dom.find("<p id=\"verdict\"");
  ASSERT_NE(verdict, std::string::npos);
  const std::size_t text = page.dom.find('>', verdict) + 1;
  EXPECT_EQ(unescaped(page.dom.substr(text, page.dom.find("</p>", text) - text)), page.verdict);
  const std::string line = "<polyline points=\"";
  std::size_t lines = 0;
  for (std::size_t at = page.dom.find(line); at != std::string::npos;
       at = page.dom.find(line, at + 1), ++lines) {
    const std::size_t begin = at + line.size();
    const std::size_t end = page.dom.find('"', begin);
    EXPECT_EQ(std::count(page.dom.begin() + static_cast<std::ptrdiff_t>(begin),
                         page.dom.begin() + static_cast<std::ptrdiff_t>(end), ','),
              frames)
        << "line " << lines;
  }
  EXPECT_EQ(lines, plots);
}

class HtmlPage : public testing::Test {
 protected:
  void SetUp() override {
    if (chromium() == nullptr) {
      if (std::getenv("FRAMECMP_REQUIRE_BROWSER") != nullptr) FAIL() << "no Chromium";
      GTEST_SKIP() << "no Chromium at /usr/bin/chromium (FRAMECMP_CHROMIUM names another)";
    }
    char pattern[] = "/tmp/framecmp-html-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string dir_;
};

TEST_F(HtmlPage, LossyClipWithSsimAndPsnr) {
  write_pair(dir_, 12, 0);
  const Page page = make_page(dir_, "--report=frames --ssim", "lossy");
  // differing, max and PSNR per plane (3 lines each), SSIM per plane, SSIM all and its dB.
  expect_sound(page, 12, 3 + 3 + 3 + 3 + 1 + 1);
  EXPECT_NE(page.dom.find("id=\"picture\""), std::string::npos);
  EXPECT_NE(page.dom.find("class=\"lowest\""), std::string::npos);
}

TEST_F(HtmlPage, DamagedDecodeWithBlocks) {
  write_pair(dir_, 6, 1);
  const Page page = make_page(dir_, "--report=blocks", "damaged");
  expect_sound(page, 6, 9);
  // The picture of frame 3 and the damaged block's dump (block 5 of a 4-block row).
  EXPECT_NE(page.dom.find("<h2>Frame 3</h2>"), std::string::npos);
  EXPECT_NE(page.dom.find("block 5"), std::string::npos);
  // The identical frames lie on the plot's "identical" line.
  EXPECT_NE(page.dom.find(">identical</text>"), std::string::npos);
}

TEST_F(HtmlPage, IdenticalPairIsAShortPage) {
  write_pair(dir_, 4, 2);
  const Page page = make_page(dir_, "--report=summary", "identical");
  expect_sound(page, 4, 0);
  EXPECT_NE(page.dom.find("class=\"same\""), std::string::npos);
  EXPECT_EQ(page.dom.find("id=\"plots\""), std::string::npos);
  EXPECT_NE(page.dom.find("id=\"totals\""), std::string::npos);
}

TEST_F(HtmlPage, TenThousandFrames) {
  write_pair(dir_, 10000, 0, 16);
  const Page page = make_page(dir_, "--report=summary", "10000", 16);
  expect_sound(page, 10000, 9);
  std::printf("A 10,000-frame page of 16x16 frames: %ld bytes\n", page.bytes);
  EXPECT_LE(page.bytes, 5 * 1000 * 1000);
}

}  // namespace
