#include "tests/wine/RelayLog.h"

#include <cstdlib>

namespace winetest {
namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// Reads the thread id before the first colon of a line ("0024:...").
std::optional<uint32_t> LineThread(std::string_view line) {
  size_t i = 0;
  uint32_t id = 0;
  while (i < line.size() && IsHex(line[i])) {
    id = id * 16 + static_cast<uint32_t>(HexValue(line[i]));
    ++i;
  }
  if (i == 0 || i > 8 || i >= line.size() || line[i] != ':') return std::nullopt;
  return id;
}

// Splits the text between the call's parentheses into arguments. A string
// argument may hold commas and parentheses, so quotes are followed.
bool ParseArguments(std::string_view list, std::vector<RelayArgument>& out) {
  size_t i = 0;
  while (i < list.size()) {
    RelayArgument argument;
    size_t start = i;
    while (i < list.size() && IsHex(list[i])) ++i;
    if (i == start) return false;
    argument.value = std::strtoull(std::string(list.substr(start, i - start)).c_str(), nullptr, 16);
    if (i + 2 < list.size() && list[i] == ' ' && list[i + 1] == 'L' && list[i + 2] == '"') {
      i += 3;
      size_t bodyStart = i;
      while (i < list.size() && list[i] != '"') {
        if (list[i] == '\\') ++i;
        ++i;
      }
      if (i >= list.size()) return false;
      argument.text = DecodeWineString(list.substr(bodyStart, i - bodyStart));
      if (!argument.text) return false;
      ++i;  // closing quote
      if (list.substr(i, 3) == "...") {
        argument.textCut = true;
        i += 3;
      }
    }
    out.push_back(std::move(argument));
    if (i == list.size()) break;
    if (list[i] != ',') return false;
    ++i;
  }
  return true;
}

struct ParsedLine {
  uint32_t thread = 0;
  bool isCall = false;
  std::string module;
  std::string function;
  std::string_view rest;  // argument list (Call) or what follows "()" (Ret)
};

std::optional<ParsedLine> ParseLine(std::string_view line) {
  const auto thread = LineThread(line);
  if (!thread) return std::nullopt;
  std::string_view body = line.substr(line.find(':') + 1);
  ParsedLine parsed;
  parsed.thread = *thread;
  if (body.substr(0, 5) == "Call ") {
    parsed.isCall = true;
    body.remove_prefix(5);
  } else if (body.substr(0, 5) == "Ret  ") {
    body.remove_prefix(5);
  } else {
    return std::nullopt;
  }
  const size_t dot = body.find('.');
  const size_t open = body.find('(');
  if (dot == std::string_view::npos || open == std::string_view::npos || dot > open) {
    return std::nullopt;
  }
  parsed.module = std::string(body.substr(0, dot));
  parsed.function = std::string(body.substr(dot + 1, open - dot - 1));
  // "Call PE DLL (...)", "Call window proc ..." and the like carry spaces in
  // what would be the module name.
  if (parsed.module.empty() || parsed.module.find(' ') != std::string::npos || parsed.function.empty() ||
      parsed.function.find(' ') != std::string::npos) {
    return std::nullopt;
  }
  parsed.rest = body.substr(open + 1);
  return parsed;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool OnThread(const RelayCall& call, std::optional<uint32_t> thread) {
  return !thread || call.thread == *thread;
}

}  // namespace

std::optional<std::u16string> DecodeWineString(std::string_view body) {
  std::u16string out;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c != '\\') {
      out.push_back(static_cast<unsigned char>(c));
      continue;
    }
    if (++i >= body.size()) return std::nullopt;
    switch (body[i]) {
      case 'n':
        out.push_back(u'\n');
        break;
      case 'r':
        out.push_back(u'\r');
        break;
      case 't':
        out.push_back(u'\t');
        break;
      case '"':
        out.push_back(u'"');
        break;
      case '\\':
        out.push_back(u'\\');
        break;
      default: {
        // Any other unit is printed as four hex digits.
        if (i + 4 > body.size()) return std::nullopt;
        char16_t unit = 0;
        for (size_t k = 0; k < 4; ++k) {
          if (!IsHex(body[i + k])) return std::nullopt;
          unit = static_cast<char16_t>(unit * 16 + HexValue(body[i + k]));
        }
        out.push_back(unit);
        i += 3;
      }
    }
  }
  return out;
}

std::vector<RelayCall> ParseRelayLog(std::string_view log) {
  std::vector<RelayCall> calls;
  size_t pos = 0;
  while (pos < log.size()) {
    size_t end = log.find('\n', pos);
    if (end == std::string_view::npos) end = log.size();
    const std::string_view line = log.substr(pos, end - pos);
    pos = end + 1;
    const auto parsed = ParseLine(line);
    if (!parsed) continue;
    if (parsed->isCall) {
      // "name(args) ret=address": the argument list ends at the last ") ret=".
      const size_t close = parsed->rest.rfind(") ret=");
      if (close == std::string_view::npos) continue;
      RelayCall call;
      call.thread = parsed->thread;
      call.module = parsed->module;
      call.function = parsed->function;
      if (!ParseArguments(parsed->rest.substr(0, close), call.arguments)) continue;
      calls.push_back(std::move(call));
      continue;
    }
    // "Ret  module.function() retval=XXXXXXXX ret=..." closes the latest open
    // call of that function on the same thread.
    const size_t at = parsed->rest.find("retval=");
    if (at == std::string_view::npos) continue;
    const uint64_t result = std::strtoull(std::string(parsed->rest.substr(at + 7, 16)).c_str(), nullptr, 16);
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->thread == parsed->thread && it->function == parsed->function && !it->result) {
        it->result = result;
        break;
      }
    }
  }
  return calls;
}

std::optional<uint32_t> FirstThread(std::string_view log) {
  return LineThread(log.substr(0, log.find('\n')));
}

std::vector<MessageBoxCall> MessageBoxes(const std::vector<RelayCall>& calls,
                                         std::optional<uint32_t> thread) {
  std::vector<MessageBoxCall> boxes;
  for (const RelayCall& call : calls) {
    if (!OnThread(call, thread) || !SameName(call.function, "MessageBoxW")) continue;
    if (call.arguments.size() != 4) continue;
    MessageBoxCall box;
    // A null text or caption pointer is printed without a string.
    box.text = call.arguments[1].text.value_or(u"");
    box.textCut = call.arguments[1].textCut;
    box.caption = call.arguments[2].text.value_or(u"");
    box.captionCut = call.arguments[2].textCut;
    box.style = static_cast<uint32_t>(call.arguments[3].value);
    boxes.push_back(std::move(box));
  }
  return boxes;
}

std::vector<StartCall> Starts(const std::vector<RelayCall>& calls, std::optional<uint32_t> thread) {
  std::vector<StartCall> starts;
  for (const RelayCall& call : calls) {
    if (!OnThread(call, thread)) continue;
    StartCall start;
    start.function = call.function;
    if (SameName(call.function, "CreateProcessW") && call.arguments.size() == 10) {
      start.function = "CreateProcessW";
      start.applicationName = call.arguments[0].text;
      start.commandLine = call.arguments[1].text.value_or(u"");
      start.currentDirectory = call.arguments[7].text;
    } else if (SameName(call.function, "ShellExecuteExW")) {
      start.function = "ShellExecuteExW";
    } else {
      continue;
    }
    start.succeeded = call.result.value_or(0) != 0;
    starts.push_back(std::move(start));
  }
  return starts;
}

bool LoggedTextMatches(const std::u16string& logged, bool cut, const std::u16string& expected) {
  if (!cut) return logged == expected;
  return logged.size() >= kShortestCutString && logged.size() < expected.size() &&
         expected.compare(0, logged.size(), logged) == 0;
}

}  // namespace winetest
