#include "package/StubTypes.h"

namespace stub {

namespace {

PayloadDescriptor DecodePayload(const uint8_t* p) {
  return {ReadU32(p), ReadU32(p + 4), ReadU32(p + 8)};
}
void EncodePayload(const PayloadDescriptor& d, uint8_t* p) {
  WriteU32(p, d.offset);
  WriteU32(p + 4, d.packedSize);
  WriteU32(p + 8, d.unpackedSize);
}
MessageDescriptor DecodeMessage(const uint8_t* p) { return {ReadU32(p), ReadU16(p + 4)}; }
void EncodeMessage(const MessageDescriptor& d, uint8_t* p) {
  WriteU32(p, d.offset);
  WriteU16(p + 4, d.length);
}

}  // namespace

PackageLocator DecodeLocator(const uint8_t (&b)[kLocatorSize]) {
  PackageLocator l;
  l.packageOffset = ReadU32(b);
  l.crcLength = ReadU32(b + 4);
  l.crc = ReadU32(b + 8);
  l.minSizeLow = ReadU32(b + 12);
  l.minSizeHigh = ReadU32(b + 16);
  l.detachedMinSize = ReadU32(b + 20);
  return l;
}

void EncodeLocator(const PackageLocator& l, uint8_t (&b)[kLocatorSize]) {
  WriteU32(b, l.packageOffset);
  WriteU32(b + 4, l.crcLength);
  WriteU32(b + 8, l.crc);
  WriteU32(b + 12, l.minSizeLow);
  WriteU32(b + 16, l.minSizeHigh);
  WriteU32(b + 20, l.detachedMinSize);
}

PackageHeader DecodeHeader(const uint8_t (&b)[kHeaderSize]) {
  PackageHeader h;
  h.lzmaProperties = b[0];
  h.lzmaDictionarySize = ReadU32(b + 1);
  for (int i = 0; i < 8; ++i) h.allowedWindows.bytes[i] = b[5 + i];
  h.win10MinRelease = ReadU16(b + 13);
  h.win10MaxRelease = ReadU16(b + 15);
  h.win11MinRelease = ReadU16(b + 17);
  h.win11MaxRelease = ReadU16(b + 19);
  h.elevationMode = b[21];
  h.payload32 = DecodePayload(b + 22);
  h.payload64 = DecodePayload(b + 34);
  h.afterMessages = ReadU32(b + 46);
  h.expiryYear = ReadU16(b + 50);
  h.expiryMonth = ReadU16(b + 52);
  h.expiryDay = ReadU16(b + 54);
  h.expiredMessage = DecodeMessage(b + 56);
  h.wrongWidthMessage = DecodeMessage(b + 62);
  h.unsupportedWindowsMessage = DecodeMessage(b + 68);
  return h;
}

void EncodeHeader(const PackageHeader& h, uint8_t (&b)[kHeaderSize]) {
  b[0] = h.lzmaProperties;
  WriteU32(b + 1, h.lzmaDictionarySize);
  for (int i = 0; i < 8; ++i) b[5 + i] = h.allowedWindows.bytes[i];
  WriteU16(b + 13, h.win10MinRelease);
  WriteU16(b + 15, h.win10MaxRelease);
  WriteU16(b + 17, h.win11MinRelease);
  WriteU16(b + 19, h.win11MaxRelease);
  b[21] = h.elevationMode;
  EncodePayload(h.payload32, b + 22);
  EncodePayload(h.payload64, b + 34);
  WriteU32(b + 46, h.afterMessages);
  WriteU16(b + 50, h.expiryYear);
  WriteU16(b + 52, h.expiryMonth);
  WriteU16(b + 54, h.expiryDay);
  EncodeMessage(h.expiredMessage, b + 56);
  EncodeMessage(h.wrongWidthMessage, b + 62);
  EncodeMessage(h.unsupportedWindowsMessage, b + 68);
}

}  // namespace stub
