#include "tools/pkgtool/SimulationReport.h"

#include "authoring/LauncherResource.h"
#include "tools/pkgtool/HumanTerms.h"
#include "tools/pkgtool/PeFacts.h"

namespace pkgtool {

using nlohmann::json;

namespace {

std::vector<std::string> LanguageTags(const SimulationInput& input) {
  std::vector<std::string> tags;
  for (const uint16_t language : input.languages) tags.push_back(stub::writer::TagOfLanguage(language));
  return tags;
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

}  // namespace

nlohmann::json ResultJson(const SimulationInput& input, const SimulationResult& r) {
  json j = {{"windows", input.windows.key},
            {"label", input.windows.label},
            {"arch", ArchName(input.arch)},
            {"administrator", input.administrator},
            {"date", FormatDate(input.today.year, input.today.month, input.today.day)},
            {"language", stub::writer::TagOfLanguage(input.languages.empty() ? 0 : input.languages[0])},
            {"languages", LanguageTags(input)},
            {"commandLine", Utf16ToUtf8(r.commandLine)},
            {"summary", ShortOutcome(r)},
            {"deploymentMode", r.deploymentMode},
            {"relaunchedElevated", r.relaunchedElevated},
            // null: whatever the setup program returns
            {"exitCode", r.exitCodeFromSetup ? json(nullptr) : json(r.exitCode)}};
  switch (r.ending) {
    case Ending::kRefused:
      j["outcome"] = "refused";
      j["refusal"] = r.refusal;
      j["box"] = Utf16ToUtf8(r.box);
      j["boxShown"] = r.boxShown;
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
  const std::string width = input.arch == Arch::kX86   ? "32-bit"
                            : input.arch == Arch::kX64 ? "64-bit"
                            : RunsX64OnArm64(input.windows)
                                ? "64-bit on Arm64 (runs x86 and x64 programs emulated)"
                                : "64-bit on Arm64 (runs x86 programs emulated, no x64 ones)";
  line("Windows", input.windows.label + ", " + width + ", " +
                      (input.administrator ? "elevated" : "not elevated") + ", " +
                      FormatDate(input.today.year, input.today.month, input.today.day) +
                      (input.languages == std::vector<uint16_t>{0x0409}
                           ? ""
                           : ", user's language " + Join(LanguageTags(input), ", then ")));
  line("Started as", Utf16ToUtf8(r.commandLine));
  switch (r.ending) {
    case Ending::kRefused:
      line("Outcome", "refused (" + r.refusal + ")");
      if (r.boxShown) {
        line("Box", Utf16ToUtf8(r.box));
        line("Caption", Utf16ToUtf8(r.caption));
      } else {
        line("Box", "none: deployment mode, and the run is silent (/s or /silent)");
        line("Its text", Utf16ToUtf8(r.box));
      }
      line("Exit code", ExitCodeText(r));
      return text;
    case Ending::kEndedWithoutStart:
      line("Outcome", "ended without starting a setup program");
      return text;
    case Ending::kStarted:
      break;
  }
  if (r.relaunchedElevated) {
    line("Elevation", "the start would raise the setup program's rights, so the launcher asks "
                      "for them first: it starts itself again with \"runas\" (one prompt, "
                      "showing the package) and its elevated self does the rest");
  }
  line("Outcome", "starts the " + r.program + " setup program");
  line("Program", r.image + (r.fitsSlot ? "" : std::string("; the ") + r.program + " slot takes " +
                                                   SlotNeeds(r.program == "x64")) +
                      (input.arch == Arch::kArm64 ? "; Windows runs it emulated" : ""));
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
  line("Exit code", ExitCodeText(r));
  return text;
}

}  // namespace pkgtool
