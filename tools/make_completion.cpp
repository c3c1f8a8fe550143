// make_completion: writes the bash completion from its template, with every option of the
// option table in place of @OPTIONS@ and every metric of the registry in place of
// @METRICS@, so that the completion never lists another set.
//   make_completion TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/options.h"
#include "metrics/registry.h"

int main(const int argc, char** const argv) {
  if (argc != 3) {
    std::fputs("usage: make_completion TEMPLATE OUTPUT\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1]);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "make_completion: cannot read %s\n", argv[1]);
    return 1;
  }
  // Lines of the options' list: as many names as fit in 96 columns, indented on the next.
  std::string options;
  std::size_t column = 0;
  for (const std::string& name : framecmp::option_names()) {
    if (column > 0 && column + 1 + name.size() > 96) {
      options += "\n   ";
      column = 3;
    }
    if (column > 0) options += ' ';
    options += name;
    column += name.size() + 1;
  }
  std::string completion = text.str();
  const std::size_t at = completion.find("@OPTIONS@");
  if (at == std::string::npos) {
    std::fprintf(stderr, "make_completion: no @OPTIONS@ in %s\n", argv[1]);
    return 1;
  }
  completion.replace(at, 9, options);
  std::string metrics;
  for (const framecmp::MetricEntry& entry : framecmp::metric_registry()) {
    if (!metrics.empty()) metrics += ' ';
    metrics += entry.name;
  }
  if (const std::size_t slot = completion.find("@METRICS@"); slot != std::string::npos) {
    completion.replace(slot, 9, metrics);
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << completion;
  return out.good() ? 0 : 1;
}
