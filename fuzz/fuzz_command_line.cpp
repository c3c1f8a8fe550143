// Arbitrary argument vectors through conversion and checking, in both forms. The input is
// split at NUL bytes into arguments, so the fuzzer controls their number (0 included) and
// every byte. A refusal must be one message between blank lines (in the classic form,
// exactly the one of the first failing check); an acceptance must hold the invariants the
// run relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "input/frame_geometry.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> pieces;
  if (size > 0) {
    pieces.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == 0) {
        pieces.emplace_back();
      } else {
        pieces.back().push_back(static_cast<char>(data[i]));
      }
    }
  }
  std::vector<const char*> argv;
  for (const std::string& piece : pieces) argv.push_back(piece.c_str());
  argv.push_back(nullptr);
  const auto argc = static_cast<int>(pieces.size());

  const framecmp::CommandLine result = framecmp::parse_command_line(argc, argv.data());
  // The modern form: an option anywhere before the first "--", or "--" first.
  bool modern = argc > 1 && pieces[1] == "--";
  for (int i = 1; i < argc && pieces[static_cast<std::size_t>(i)] != "--"; ++i) {
    modern = modern || framecmp::is_option(pieces[static_cast<std::size_t>(i)]);
  }
  if (result.action == framecmp::CommandAction::kShowHelp ||
      result.action == framecmp::CommandAction::kShowVersion) {
    check(modern && !result.message.empty() && result.message.back() == '\n');
    return 0;
  }
  if (result.action == framecmp::CommandAction::kRun) {
    const framecmp::RunSettings& s = result.settings;
    check(s.modern == modern);
    check(result.message.empty());
    check(framecmp::is_accepted_block_size(s.block_size));
    // Without a size the modern form leaves it to YUV4MPEG2 headers.
    check(s.size_given || modern);
    if (s.size_given) {
      check(s.width > 0 && s.height > 0);
      check(framecmp::frame_size_of(s.format, s.width, s.height) <= framecmp::kMaxFrameSize);
    }
    check(s.max_count >= 0);
    if (modern) return 0;
    check(argc == 5 || argc == 6);
    check(framecmp::is_accepted_dimension(s.width) && framecmp::is_accepted_dimension(s.height));
    check(s.test_path == argv[3] && s.ref_path == argv[4]);
    return 0;
  }
  const std::string_view message = result.message;
  // Every refusal is one message between blank lines.
  check(message.size() >= 3 && message[0] == '\n' && message.substr(message.size() - 2) == "\n\n");
  if (modern) return 0;
  // The classic form: exactly the message for the first check that fails.
  const bool usage = starts_with(message, "\nUsage: ");
  const bool dimensions = starts_with(message, "\nUnvalid image dimensions ");
  const bool limit = starts_with(message, "\nInvalid mismatch limit ");
  check(usage + dimensions + limit == 1);
  check(usage == (argc != 5 && argc != 6));
  if (usage) return 0;
  const std::int32_t width = framecmp::parse_decimal(argv[1]);
  const std::int32_t height = framecmp::parse_decimal(argv[2]);
  const bool bad_dimensions = !framecmp::is_accepted_dimension(width) ||
                              !framecmp::is_accepted_dimension(height) ||
                              framecmp::frame_size_of(*framecmp::find_pixel_format("yuv420p"),
                                                      width, height) > framecmp::kMaxFrameSize;
  check(dimensions == bad_dimensions);
  check(limit == (!bad_dimensions && argc == 6 && framecmp::parse_decimal(argv[5]) < 0));
  return 0;
}
