// Reading what Wine's relay trace says a program called. With
// WINEDEBUG=+relay and RelayInclude limited to a few entry points, every call
// appears as
//   0024:Call user32.MessageBoxW(00000000,00385720 L"text",00382920 L"caption",00000010) ret=...
//   0024:Ret  user32.MessageBoxW() retval=ffffffff ret=...
// Strings are escaped C-style and cut after 300 characters ("..." follows the
// closing quote then).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winetest {

struct RelayArgument {
  uint64_t value = 0;
  // Present when Wine printed the argument as a wide string.
  std::optional<std::u16string> text;
  bool textCut = false;  // Wine stopped printing the string at its limit
};

struct RelayCall {
  uint32_t thread = 0;
  std::string module;    // as Wine prints it: "user32", "KERNEL32", ...
  std::string function;  // "MessageBoxW"
  std::vector<RelayArgument> arguments;
  std::optional<uint64_t> result;  // from the matching Ret line, when there is one
};

// All relayed calls in the log, in order, each with its result when the
// matching return was logged. Lines that are not relay calls are skipped.
std::vector<RelayCall> ParseRelayLog(std::string_view log);

// The thread that wrote the first line of the log: with the wine server
// already running, that is the program that was started with the trace on.
std::optional<uint32_t> FirstThread(std::string_view log);

// Decodes one of Wine's printed wide strings: `body` is what stands between
// the quotes. Returns nothing when the escapes are malformed.
std::optional<std::u16string> DecodeWineString(std::string_view body);

struct MessageBoxCall {
  std::u16string text;
  bool textCut = false;
  std::u16string caption;
  bool captionCut = false;
  uint32_t style = 0;
};

// The MessageBoxW calls among `calls` (any thread when `thread` is empty).
std::vector<MessageBoxCall> MessageBoxes(const std::vector<RelayCall>& calls, std::optional<uint32_t> thread);

// How the launcher started a program.
struct StartCall {
  std::string function;                            // "CreateProcessW" or "ShellExecuteExW"
  std::optional<std::u16string> applicationName;   // CreateProcessW only
  std::u16string commandLine;                      // CreateProcessW only
  std::optional<std::u16string> currentDirectory;  // CreateProcessW only
  bool succeeded = false;
};

std::vector<StartCall> Starts(const std::vector<RelayCall>& calls, std::optional<uint32_t> thread);

// True when a logged string matches `expected`: equal, or, when Wine cut it,
// a proper prefix of it that is long enough to tell texts apart. Wine's limit
// counts printed characters, escapes included, so a cut string of plain text
// keeps about 290 characters and one full of backslashes fewer.
bool LoggedTextMatches(const std::u16string& logged, bool cut, const std::u16string& expected);

constexpr size_t kShortestCutString = 100;

}  // namespace winetest
