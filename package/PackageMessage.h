// Reading the package header and showing the package's own refusal texts.
#pragma once

#include "launcher/StubContext.h"
#include "package/LauncherSettings.h"
#include "package/StubTypes.h"

namespace stub {

// Reads the 74-byte header at `packageOffset`. A short read, or a header
// outside the span a digest vouched for, ends the process with the
// damaged-package message. No field is validated here.
PackageHeader ReadPackageHeader(const StubContext& context, uint32_t packageOffset);

// Replaces every "%USER%", then every "%user%", that `text` holds by
// `userText`, left to right. Placeholders that `userText` itself brings in are
// not expanded again, so the result is always finite. An empty `userText`
// leaves `text` unchanged.
Text FillPlaceholders(const Text& text, const Text& userText);

// The message text the descriptor points at, exactly as stored. A text that
// cannot be read whole, or lies outside the span a digest vouched for, ends
// the process with the damaged-package message.
Text ReadPackageMessage(const StubContext& context, const MessageDescriptor& descriptor);

// Reads the message (or takes the vendor's text `which` in the user's
// language, where the settings have it), fills the placeholder when
// `userText` is given (null or empty: no substitution) and shows it as an
// error box captioned with the launcher's path, ending the process with
// `reason`. Never returns.
[[noreturn]] void ShowPackageMessage(const StubContext& context, const MessageDescriptor& descriptor,
                                     const Text* userText, EndReason reason, LauncherText which);

}  // namespace stub
