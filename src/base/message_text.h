// Text from outside the tool, made safe to show in a message.
#ifndef FRAMECMP_BASE_MESSAGE_TEXT_H_
#define FRAMECMP_BASE_MESSAGE_TEXT_H_

#include <string>
#include <string_view>

namespace framecmp {

// `text` with every byte outside printable ASCII shown as \xHH (two upper-case hex
// digits) and every backslash doubled, so that a NUL cannot cut a message short and no
// escape sequence from a file or an option's value reaches the terminal. For a file's
// content and option values; paths are shown as typed, since scripts match them.
std::string printable(std::string_view text);

}  // namespace framecmp

#endif  // FRAMECMP_BASE_MESSAGE_TEXT_H_
