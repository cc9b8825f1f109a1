// Any handler command and any argument: the result, when there is one, must
// split into the command's own arguments with the argument in place of "%1".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "crash/mail/CommandLineSplit.h"
#include "crash/mail/Mailto.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\x01');
  if (cut == std::string::npos)
    return 0;
  const std::string command = input.substr(0, cut);
  const std::string argument = input.substr(cut + 1);
  if (command.find_first_of(std::string("\x02\0", 2)) != std::string::npos || argument.find('\x02') != std::string::npos)
    return 0;
  const std::optional<std::string> built = BuildHandlerCommand(command, argument, std::numeric_limits<std::size_t>::max());  // no cut
  if (!built)
    return 0;

  std::string withMarker = command;
  if (withMarker.find("%1") == std::string::npos) {
    if (withMarker.back() != ' ')
      withMarker += ' ';
    withMarker += "%1";
  }
  for (std::size_t at; (at = withMarker.find("%1")) != std::string::npos;)
    withMarker.replace(at, 2, "\x02");
  std::vector<std::string> expected = SplitCommandLine(withMarker);
  for (std::string& arg : expected) {
    for (std::size_t at; (at = arg.find('\x02')) != std::string::npos;)
      arg.replace(at, 1, argument);
  }
  if (SplitCommandLine(*built) != expected)
    std::abort();
  return 0;
}
