#include "package/PackageMessage.h"

#include "launcher/FatalMessages.h"
#include "platform/Memory.h"

namespace stub {

PackageHeader ReadPackageHeader(const StubContext& context, uint32_t packageOffset) {
  uint8_t bytes[kHeaderSize];
  if (!context.vouched.Covers(packageOffset, kHeaderSize) ||
      context.platform.ReadPackageFile(packageOffset, bytes, kHeaderSize) != kHeaderSize) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }
  return DecodeHeader(bytes);
}

namespace {

// Appends `fragment` of the stored text with every "%user%" replaced.
void AppendLowerFilled(Text& result, const Text& text, size_t from, size_t to,
                       const Text& userText) {
  for (;;) {
    const size_t at = text.Find(u"%user%", from);
    if (at == Text::npos || at + 6 > to) break;
    result.Append(text.Data() + from, at - from);
    result.Append(userText);
    from = at + 6;
  }
  result.Append(text.Data() + from, to - from);
}

}  // namespace

// Every "%USER%" first, then every "%user%", as the launcher always has; but
// only in the stored text: what `userText` brings in (a registry value may
// hold a placeholder) is never searched again, so the result is finite.
Text FillPlaceholders(const Text& text, const Text& userText) {
  if (userText.Empty()) return text;
  Text result;
  size_t from = 0;
  for (;;) {
    const size_t at = text.Find(u"%USER%", from);
    if (at == Text::npos) break;
    AppendLowerFilled(result, text, from, at, userText);
    result.Append(userText);
    from = at + 6;
  }
  AppendLowerFilled(result, text, from, text.Length(), userText);
  return result;
}

Text ReadPackageMessage(const StubContext& context, const MessageDescriptor& descriptor) {
  const uint32_t byteCount = 2u * descriptor.length;
  Text message;
  if (byteCount != 0) {
    if (!context.vouched.Covers(descriptor.offset, byteCount)) {
      ShowFatalMessage(context, FatalMessage::kDamaged);
    }
    auto* bytes = static_cast<uint8_t*>(AllocateBlock(byteCount));
    if (!bytes) MemoryExhausted();
    if (context.platform.ReadPackageFile(descriptor.offset, bytes, byteCount) != byteCount) {
      ShowFatalMessage(context, FatalMessage::kDamaged);
    }
    for (uint32_t i = 0; i < byteCount; i += 2) {
      message.Append(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    FreeBlock(bytes);
  }
  return message;
}

void ShowPackageMessage(const StubContext& context, const MessageDescriptor& descriptor,
                        const Text* userText, EndReason reason, LauncherText which) {
  // The vendor's text in the user's language stands in for the stored one.
  const Text& translated = context.settings.TextFor(which);
  Text message = translated.Empty() ? ReadPackageMessage(context, descriptor) : translated;
  if (userText) message = FillPlaceholders(message, *userText);
  EndWithMessage(context, message, reason);
}

}  // namespace stub

