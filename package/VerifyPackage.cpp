#include "package/VerifyPackage.h"

#include "launcher/FatalMessages.h"
#include "package/CRC32.h"
#include "platform/Memory.h"

namespace stub {

SizeVerdict JudgeFileSize(const PackageLocator& locator, uint64_t fileSize) {
  if (locator.detachedMinSize != 0) {
    return locator.detachedMinSize > static_cast<uint32_t>(fileSize) ? SizeVerdict::kTruncated
                                                                     : SizeVerdict::kLargeEnough;
  }
  const auto minimum =
      static_cast<int64_t>((static_cast<uint64_t>(locator.minSizeHigh) << 32) | locator.minSizeLow);
  return minimum > static_cast<int64_t>(fileSize) ? SizeVerdict::kTruncated
                                                  : SizeVerdict::kLargeEnough;
}

PackageLocator VerifyPackage(StubContext& context, bool checkDigest) {
  Platform& platform = context.platform;
  uint8_t bytes[kLocatorSize];
  if (platform.ReadPackageFile(kLocatorOffset, bytes, kLocatorSize) != kLocatorSize) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }
  const PackageLocator locator = DecodeLocator(bytes);
  if (locator.packageOffset == 0) ShowFatalMessage(context, FatalMessage::kDamaged);

  const uint64_t fileSize = platform.PackageFileSize();
  if (JudgeFileSize(locator, fileSize) == SizeVerdict::kTruncated) {
    ShowFatalMessage(context, FatalMessage::kTruncated);
  }

  // The span can never be read whole when it reaches past the end of the file
  // or beyond the 2 GiB the launcher positions within; refusing it here keeps
  // a damaged locator from demanding gigabytes first.
  const uint64_t spanEnd = static_cast<uint64_t>(locator.packageOffset) + locator.crcLength;
  if (spanEnd > fileSize || locator.packageOffset >= 0x80000000u) {
    ShowFatalMessage(context, FatalMessage::kDamaged);
  }

  // The span is checked a piece at a time through one small block that stays
  // in the cache: holding it whole would cost a first touch of as much memory
  // as the packed programs, only to be freed before they are read again.
  // SHA-256 goes along with the checksum, over the same pieces: the span is
  // read once, and exactly the bytes checked are the bytes hashed.
  const LauncherSettings& settings = context.settings;
  const bool digesting = settings.hasDigest && checkDigest && platform.DigestBegin();
  uint32_t crc = 0;
  if (locator.crcLength != 0) {
    // A span that reaches past 2 GiB is read in one piece from below that
    // mark: the file cannot be positioned beyond it.
    const uint32_t pieceSize = spanEnd > 0x80000000u || locator.crcLength < kChecksumPiece
                                   ? locator.crcLength
                                   : kChecksumPiece;
    void* piece = AllocateBlock(pieceSize);
    if (!piece) MemoryExhausted();
    uint32_t offset = locator.packageOffset;
    for (uint32_t left = locator.crcLength; left != 0;) {
      const uint32_t count = left < pieceSize ? left : pieceSize;
      if (platform.ReadPackageFile(offset, piece, count) != count) {
        FreeBlock(piece);
        ShowFatalMessage(context, FatalMessage::kDamaged);
      }
      crc = Crc32Update(crc, piece, count);
      if (digesting) platform.DigestAdd(piece, count);
      offset += count;
      left -= count;
    }
    FreeBlock(piece);
  }
  if (crc != locator.crc) ShowFatalMessage(context, FatalMessage::kDamaged);
  if (settings.hasDigest) {
    uint8_t digest[kDigestSize];
    if (digesting && platform.DigestEnd(digest)) {
      uint8_t differ = 0;
      for (uint32_t i = 0; i < kDigestSize; ++i) differ |= digest[i] ^ settings.packageDigest[i];
      if (differ) ShowFatalMessage(context, FatalMessage::kDamaged);
    }
    context.vouched = VouchedSpan{true, locator.packageOffset, spanEnd};
  }
  return locator;
}

}  // namespace stub
