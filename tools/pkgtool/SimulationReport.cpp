#include "tools/pkgtool/SimulationReport.h"

#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/PeFacts.h"

namespace pkgtool {

using nlohmann::json;

nlohmann::json ResultJson(const SimulationInput& input, const SimulationResult& r) {
  json j = {{"windows", input.windows.key},
            {"label", input.windows.label},
            {"arch", input.x64 ? "x64" : "x86"},
            {"administrator", input.administrator},
            {"date", FormatDate(input.today.year, input.today.month, input.today.day)},
            {"commandLine", Utf16ToUtf8(r.commandLine)},
            {"summary", ShortOutcome(r)}};
  switch (r.ending) {
    case Ending::kRefused:
      j["outcome"] = "refused";
      j["refusal"] = r.refusal;
      j["box"] = Utf16ToUtf8(r.box);
      j["caption"] = Utf16ToUtf8(r.caption);
      if (!r.windowsName.empty()) j["windowsName"] = Utf16ToUtf8(r.windowsName);
      break;
    case Ending::kEndedWithoutStart:
      j["outcome"] = "ended";
      break;
    case Ending::kStarted:
      j["outcome"] = "started";
      j["program"] = r.program;
      j["image"] = r.image;
      j["fitsSlot"] = r.fitsSlot;
      j["copy"] = {{"path", Utf16ToUtf8(r.copyPath)}, {"size", r.copySize}};
      if (!r.privateFolder.empty()) {
        j["copy"]["privateFolder"] = {{"path", Utf16ToUtf8(r.privateFolder)},
                                      {"access", Utf16ToUtf8(r.privateFolderAccess)}};
      }
      if (r.start.shell) {
        j["start"] = {{"mode", "shell"},
                      {"verb", Utf16ToUtf8(r.start.verb)},
                      {"file", Utf16ToUtf8(r.start.file)},
                      {"parameters", Utf16ToUtf8(r.start.parameters)},
                      {"appended", Utf16ToUtf8(r.appended)}};
      } else {
        j["start"] = {{"mode", "direct"},
                      {"commandLine", Utf16ToUtf8(r.start.commandLine)},
                      {"currentDirectory", Utf16ToUtf8(r.start.currentDirectory)}};
      }
      j["waits"] = r.waited;
      j["copyDeleted"] = r.copyDeleted;
      break;
  }
  return j;
}

std::string ResultText(const SimulationInput& input, const SimulationResult& r) {
  std::string text;
  auto line = [&](const std::string& label, const std::string& value) {
    text += label + std::string(label.size() < 14 ? 14 - label.size() : 1, ' ') + value + '\n';
  };
  line("Windows", input.windows.label + ", " + (input.x64 ? "64-bit" : "32-bit") + ", " +
                      (input.administrator ? "elevated" : "not elevated") + ", " +
                      FormatDate(input.today.year, input.today.month, input.today.day));
  line("Started as", Utf16ToUtf8(r.commandLine));
  switch (r.ending) {
    case Ending::kRefused:
      line("Outcome", "refused (" + r.refusal + ")");
      line("Box", Utf16ToUtf8(r.box));
      line("Caption", Utf16ToUtf8(r.caption));
      return text;
    case Ending::kEndedWithoutStart:
      line("Outcome", "ended without starting a setup program");
      return text;
    case Ending::kStarted:
      break;
  }
  line("Outcome", "starts the " + r.program + " setup program");
  line("Program", r.image + (r.fitsSlot ? "" : std::string("; the ") + r.program + " slot takes " +
                                                   SlotNeeds(r.program == "x64")));
  line("Copy", Utf16ToUtf8(r.copyPath) + " (" + std::to_string(r.copySize) + " bytes)");
  if (!r.privateFolder.empty()) {
    line("Its folder", "new, with a random name at every run; only Administrators and SYSTEM "
                       "can write to it (" + Utf16ToUtf8(r.privateFolderAccess) + ")");
  }
  if (r.start.shell) {
    line("Start", "through the shell, verb \"" + Utf16ToUtf8(r.start.verb) + "\"");
    line("File", Utf16ToUtf8(r.start.file));
    line("Parameters", Utf16ToUtf8(r.start.parameters));
  } else {
    line("Start", "directly");
    line("Command line", Utf16ToUtf8(r.start.commandLine));
    line("Folder", Utf16ToUtf8(r.start.currentDirectory));
  }
  const std::string deletes = r.privateFolder.empty() ? "the copy" : "the copy and its folder";
  line("Afterwards", r.waited ? (r.copyDeleted ? "waits for it, then deletes " + deletes
                                               : "waits for it; the copy stays")
                              : "returns at once (detached); " + deletes +
                                    (r.privateFolder.empty() ? " stays" : " stay"));
  return text;
}

}  // namespace pkgtool
