// Every way the launcher ends short of the setup program's own exit, as one
// table: the reason it records, the text its box shows (which a vendor may
// replace), the launcher's own English wording, the exit code of deployment
// mode, and the names pkgtool gives it. pkgtool's JSON, help, inspect and
// simulate read this table; the stub reads only the columns it needs, drawn
// out at compile time, so that the names cost it nothing.
#pragma once

#include <cstdint>

#include "launcher/FatalMessages.h"
#include "package/LauncherSettings.h"
#include "platform/Memory.h"
#include "platform/Platform.h"

namespace stub {

struct EndingFacts {
  EndReason reason;
  LauncherText text;      // the text its box shows
  // The launcher's own wording of that text; null where the package brings
  // its own (the three refusal texts).
  const char16_t* english;
  uint32_t exitCode;      // in deployment mode
  const char* exitName;   // the Windows error that code is
  const char* key;        // its name in JSON, recipes and --launcher-text
  const char* name;       // how simulate and the help say it
};

inline constexpr EndingFacts kEndings[] = {
    {EndReason::kDamaged, LauncherText::kDamaged, kMsgDamaged, 1620,
     "ERROR_INSTALL_PACKAGE_INVALID", "damaged", "damaged"},
    {EndReason::kTruncated, LauncherText::kTruncated, kMsgTruncated, 1620,
     "ERROR_INSTALL_PACKAGE_INVALID", "truncated", "truncated"},
    {EndReason::kCannotCreateCopy, LauncherText::kCannotCreateCopy, kMsgCannotCreateCopy, 1603,
     "ERROR_INSTALL_FAILURE", "cannotCreateCopy", "cannot create copy"},
    {EndReason::kCannotExecute, LauncherText::kCannotExecute, kMsgCannotExecute, 1603,
     "ERROR_INSTALL_FAILURE", "cannotExecute", "cannot execute"},
    {EndReason::kExpired, LauncherText::kExpired, nullptr, 1931, "ERROR_CONTEXT_EXPIRED",
     "expired", "expired"},
    {EndReason::kWrongWidth, LauncherText::kWrongWidth, nullptr, 1633,
     "ERROR_INSTALL_PLATFORM_UNSUPPORTED", "wrongWidth", "wrong width"},
    {EndReason::kUnsupportedWindows, LauncherText::kUnsupportedWindows, nullptr, 1633,
     "ERROR_INSTALL_PLATFORM_UNSUPPORTED", "unsupportedWindows", "unsupported Windows"},
    {EndReason::kOutOfMemory, LauncherText::kOutOfMemory, kMsgOutOfMemory, 8,
     "ERROR_NOT_ENOUGH_MEMORY", "outOfMemory", "out of memory"},
    // The user said no to the elevation prompt: the cannot-execute box.
    {EndReason::kElevationDeclined, LauncherText::kCannotExecute, kMsgCannotExecute, 1223,
     "ERROR_CANCELLED", "elevationDeclined", "elevation declined"},
};
constexpr int kEndingCount = sizeof kEndings / sizeof kEndings[0];

constexpr const EndingFacts& EndingOf(EndReason reason) { return kEndings[static_cast<int>(reason)]; }

// The launcher indexes the table, the texts and the fixed messages by one
// another's numbers; these checks keep the four lists in step.
constexpr bool EndingsInStep() {
  for (int i = 0; i < kEndingCount; ++i) {
    if (static_cast<int>(kEndings[i].reason) != i) return false;
    // The reasons that have a text of their own come first, in its order.
    if (i < kLauncherTextCount && static_cast<int>(kEndings[i].text) != i) return false;
    if (i >= kLauncherTextCount && static_cast<int>(kEndings[i].text) >= i) return false;
  }
  return kEndings[kEndingCount - 1].reason == EndReason::kElevationDeclined;
}
static_assert(EndingsInStep(), "EndReason, LauncherText and kEndings out of step");
static_assert(kEndingCount > kLauncherTextCount, "every text is some reason's");
static_assert(EndingOf(EndReason::kDamaged).text == LauncherText::kDamaged &&
                  EndingOf(EndReason::kTruncated).text == LauncherText::kTruncated &&
                  EndingOf(EndReason::kCannotCreateCopy).text == LauncherText::kCannotCreateCopy &&
                  EndingOf(EndReason::kCannotExecute).text == LauncherText::kCannotExecute,
              "FatalMessage and LauncherText out of step");

// A text is the launcher's own (pkgtool ships it in every language it
// knows) unless it is one of the package's three refusal texts, the rows
// above without an English wording. (Said by the texts, not by the null
// pointers: a sanitizer's build cannot compare addresses at compile time.)
constexpr bool IsLaunchersOwnText(LauncherText text) {
  return text != LauncherText::kExpired && text != LauncherText::kWrongWidth &&
         text != LauncherText::kUnsupportedWindows;
}

}  // namespace stub
