#include "cli/options.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace framecmp {
namespace {

std::set<std::string> table_names() {
  std::set<std::string> names;
  for (const OptionSpec& option : kOptions) names.emplace(option.name);
  return names;
}

// The man page's OPTIONS section names every option of the table in its entries' heads,
// and no other.
TEST(Options, ManPageListsTheTable) {
  std::ifstream page(FRAMECMP_MAN_PAGE);
  ASSERT_TRUE(page) << FRAMECMP_MAN_PAGE;
  std::set<std::string> names;
  bool in_options = false;
  bool head = false;
  const std::regex option(R"(\\-\\-([a-z0-9]+(\\-[a-z0-9]+)*))");
  for (std::string line; std::getline(page, line);) {
    if (line.rfind(".SH", 0) == 0) in_options = line == ".SH OPTIONS";
    if (!in_options) continue;
    if (head) {
      for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it) {
        names.insert(std::regex_replace((*it)[1].str(), std::regex(R"(\\-)"), "-"));
      }
    }
    head = line == ".TP";
  }
  EXPECT_EQ(names, table_names());
}

// Every option has a help entry, its own or the one before it.
TEST(Options, HelpNamesEveryOption) {
  const std::string help = help_text();
  for (const OptionSpec& option : kOptions) {
    const std::string name = "--" + std::string(option.name) + (option.argument ? "=" : "");
    EXPECT_NE(help.find(name), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace framecmp
