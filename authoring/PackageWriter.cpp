#include "authoring/PackageWriter.h"

#include <lzma.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "package/CRC32.h"
#include "platform/memory/Sha256.h"

namespace stub::writer {

namespace {

constexpr uint32_t kLocatorEnd = kLocatorOffset + kLocatorSize;  // 152
constexpr size_t kOutputChunk = 1 << 16;
constexpr size_t kInputPiece = 1 << 20;

std::string Hex(uint64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
  return buffer;
}

void CheckPayloadSize(const std::optional<std::vector<uint8_t>>& payload, const char* which) {
  if (payload && payload->size() > kMaxPayloadSize) {
    throw WriterError(std::string("the ") + which + " setup program is " +
                      std::to_string(payload->size()) + " bytes; the launcher unpacks at most " +
                      std::to_string(kMaxPayloadSize) + " (" + Hex(kMaxPayloadSize) + ")");
  }
}

void CheckMessage(const std::u16string& text, const char* which) {
  if (text.size() > kMaxMessageUnits) {
    throw WriterError(std::string("the ") + which + " message has " + std::to_string(text.size()) +
                      " UTF-16 units; at most " + std::to_string(kMaxMessageUnits) + " fit");
  }
}

void EncodeLocatorInto(const PackageLocator& locator, std::vector<uint8_t>& bytes) {
  uint8_t raw[kLocatorSize];
  EncodeLocator(locator, raw);
  std::copy(raw, raw + kLocatorSize, bytes.begin() + kLocatorOffset);
}

void EncodeHeaderInto(const PackageHeader& header, uint32_t at, std::vector<uint8_t>& bytes) {
  uint8_t raw[kHeaderSize];
  EncodeHeader(header, raw);
  std::copy(raw, raw + kHeaderSize, bytes.begin() + at);
}

// Both compressions run at once; progress reports their sum, one call at a
// time, so the callback needs no locking of its own.
class ProgressSum {
 public:
  ProgressSum(const ProgressFunction& report, uint64_t total) : report_(report), total_(total) {}
  std::function<void(uint64_t)> Part(size_t index) {
    if (!report_) return {};
    return [this, index](uint64_t consumed) {
      std::lock_guard<std::mutex> lock(mutex_);
      parts_[index] = consumed;
      report_(parts_[0] + parts_[1], total_);
    };
  }

 private:
  const ProgressFunction& report_;
  uint64_t total_;
  std::mutex mutex_;
  uint64_t parts_[2] = {0, 0};
};

}  // namespace

WindowsVersionSet AllWindows() {
  WindowsVersionSet set;
  for (unsigned e = kWin95; e <= kWin11; ++e) set.Add(e);
  set.Add(kWinOther);
  return set;
}

uint8_t LzmaPropertiesByte(uint8_t lc, uint8_t lp, uint8_t pb) {
  return static_cast<uint8_t>((pb * 5 + lp) * 9 + lc);
}

std::optional<std::string> StubProblem(const std::vector<uint8_t>& stub) {
  if (stub.size() < 0x40 || stub[0] != 'M' || stub[1] != 'Z') {
    return std::string("not a Windows executable (no 'MZ' header)");
  }
  const uint32_t peOffset = ReadU32(stub.data() + 0x3C);
  if (peOffset < kLocatorEnd) {
    return "its PE header starts at offset " + std::to_string(peOffset) +
           ", inside the locator room (128..151); it is not a launcher stub";
  }
  if (static_cast<uint64_t>(peOffset) + 4 > stub.size() ||
      std::memcmp(stub.data() + peOffset, "PE\0\0", 4) != 0) {
    return std::string("no PE header where the MZ header points; not a Windows executable");
  }
  for (uint32_t i = kLocatorOffset; i < kLocatorEnd; ++i) {
    if (stub[i] != 0) {
      return std::string(
          "bytes 128..151 are not zero: it already carries a package or is not a launcher stub");
    }
  }
  return std::nullopt;
}

std::vector<uint8_t> MinimalStubImage() {
  std::vector<uint8_t> image(512, 0);
  image[0] = 'M';
  image[1] = 'Z';
  WriteU32(image.data() + 0x3C, 256);
  std::memcpy(image.data() + 256, "PE\0\0", 4);
  // Something recognisable in the DOS stub area and after the PE signature,
  // so tests notice when the writer moves or drops stub bytes.
  for (uint32_t i = 0x40; i < kLocatorOffset; ++i) image[i] = static_cast<uint8_t>(i);
  for (uint32_t i = 260; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + 1);
  return image;
}

std::string LzmaVersion() { return lzma_version_string(); }

std::vector<uint8_t> Utf16Le(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

std::vector<uint8_t> CompressRawLzma1(const std::vector<uint8_t>& bytes, uint32_t level,
                                      uint32_t dictionarySize, uint8_t lc, uint8_t lp, uint8_t pb,
                                      const std::function<void(uint64_t)>& progress) {
  lzma_options_lzma options;
  if (level > 9 || lzma_lzma_preset(&options, level)) {
    throw WriterError("compression level " + std::to_string(level) + " is not 0..9");
  }
  if (dictionarySize < LZMA_DICT_SIZE_MIN || dictionarySize > (UINT32_C(3) << 29)) {
    throw WriterError("dictionary size " + std::to_string(dictionarySize) +
                      " is outside 4 KiB..1.5 GiB");
  }
  options.dict_size = dictionarySize;
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
#ifdef LZMA_FILTER_LZMA1EXT
  // The unpacked size lives in the header, so the end marker would be dead
  // weight; this filter lets the encoder leave it out.
  options.ext_flags = 0;
  options.ext_size_low = 0;
  options.ext_size_high = 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
#else
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
#endif

  lzma_stream stream = LZMA_STREAM_INIT;
  const lzma_ret init = lzma_raw_encoder(&stream, filters);
  if (init != LZMA_OK) {
    throw WriterError(init == LZMA_MEM_ERROR
                          ? std::string("not enough memory for the LZMA encoder")
                          : "LZMA settings lc=" + std::to_string(lc) + " lp=" + std::to_string(lp) +
                                " pb=" + std::to_string(pb) +
                                " are refused (each at most 4, lc + lp at most 4)");
  }

  // The input goes in a piece at a time: the encoder takes in a whole
  // dictionary's worth before it has encoded any of it, so only then does
  // total_in follow the work. The encoder's output does not depend on how
  // its input is split.
  std::vector<uint8_t> out;
  stream.next_in = bytes.data();
  stream.avail_in = 0;
  size_t fed = 0;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    if (stream.avail_in == 0 && fed < bytes.size()) {
      const size_t piece = std::min(kInputPiece, bytes.size() - fed);
      stream.avail_in = piece;
      fed += piece;
    }
    const size_t used = out.size();
    out.resize(used + kOutputChunk);
    stream.next_out = out.data() + used;
    stream.avail_out = kOutputChunk;
    ret = lzma_code(&stream, fed == bytes.size() ? LZMA_FINISH : LZMA_RUN);
    out.resize(used + kOutputChunk - stream.avail_out);
    if (progress) progress(stream.total_in);
  }
  lzma_end(&stream);
  if (ret != LZMA_STREAM_END) {
    throw WriterError(ret == LZMA_MEM_ERROR ? "not enough memory for the LZMA encoder"
                                            : "the LZMA encoder failed (liblzma code " +
                                                  std::to_string(static_cast<int>(ret)) + ")");
  }
  return out;
}

std::vector<uint8_t> DecompressRawLzma1(const uint8_t* packed, size_t packedSize,
                                        uint8_t properties, uint32_t dictionarySize,
                                        uint32_t unpackedSize) {
  std::vector<uint8_t> out;
  if (unpackedSize == 0) return out;
  lzma_options_lzma options{};
  options.lc = properties % 9;
  options.lp = (properties / 9) % 5;
  options.pb = properties / 45;
  options.dict_size = std::max<uint32_t>(dictionarySize, LZMA_DICT_SIZE_MIN);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&stream, filters) != LZMA_OK) return out;

  out.resize(unpackedSize);
  stream.next_in = packed;
  stream.avail_in = packedSize;
  stream.next_out = out.data();
  stream.avail_out = out.size();
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK && stream.avail_out > 0) {
    const size_t before = stream.avail_out;
    ret = lzma_code(&stream, LZMA_RUN);
    if (stream.avail_out == before && stream.avail_in == 0) break;
  }
  out.resize(out.size() - stream.avail_out);
  lzma_end(&stream);
  return out;
}

BuiltPackage BuildPackage(const PackageRecipe& recipe) {
  if (auto problem = StubProblem(recipe.stub)) throw WriterError("stub: " + *problem);
  if (!recipe.x86 && !recipe.x64) throw WriterError("a package needs at least one setup program");
  if (recipe.x64 && recipe.barFrom64Bit) {
    // The bar lives in payload64.offset, where a 64-bit program's offset goes.
    throw WriterError("a package with a 64-bit setup program cannot be barred from 64-bit Windows");
  }
  CheckPayloadSize(recipe.x86, "32-bit");
  CheckPayloadSize(recipe.x64, "64-bit");
  CheckMessage(recipe.expiredMessage, "expired");
  CheckMessage(recipe.wrongWidthMessage, "wrong-width");
  CheckMessage(recipe.unsupportedWindowsMessage, "unsupported-Windows");
  if (recipe.stub.size() + kHeaderSize > kMaxPackageSize) throw WriterError("the stub is too large");

  const uint64_t total = (recipe.x86 ? recipe.x86->size() : 0) + (recipe.x64 ? recipe.x64->size() : 0);
  ProgressSum progress(recipe.progress, total);
  auto compress = [&](const std::vector<uint8_t>& bytes, size_t index) {
    return CompressRawLzma1(bytes, recipe.lzmaLevel, recipe.dictionarySize, recipe.lc, recipe.lp, recipe.pb,
                            progress.Part(index));
  };

  std::vector<uint8_t> packed32, packed64;
  if (recipe.x86 && recipe.x64) {
    // liblzma encodes one stream on one thread; two streams, two threads.
    std::exception_ptr failure64;
    std::thread worker([&] {
      try {
        packed64 = compress(*recipe.x64, 1);
      } catch (...) {
        failure64 = std::current_exception();
      }
    });
    std::exception_ptr failure32;
    try {
      packed32 = compress(*recipe.x86, 0);
    } catch (...) {
      failure32 = std::current_exception();
    }
    worker.join();
    if (failure32) std::rethrow_exception(failure32);
    if (failure64) std::rethrow_exception(failure64);
  } else if (recipe.x86) {
    packed32 = compress(*recipe.x86, 0);
  } else {
    packed64 = compress(*recipe.x64, 1);
  }

  const std::vector<uint8_t> messages[3] = {Utf16Le(recipe.expiredMessage),
                                            Utf16Le(recipe.wrongWidthMessage),
                                            Utf16Le(recipe.unsupportedWindowsMessage)};
  const uint64_t packageOffset = recipe.stub.size();
  const uint64_t offset32 = packageOffset + kHeaderSize;
  const uint64_t offset64 = offset32 + packed32.size();
  uint64_t afterMessages = offset64 + packed64.size();
  uint64_t messageOffsets[3];
  for (int i = 0; i < 3; ++i) {
    messageOffsets[i] = afterMessages;
    afterMessages += messages[i].size();
  }
  const uint64_t totalSize = afterMessages + recipe.trailingData.size();
  if (packed32.size() > kMaxPayloadSize || packed64.size() > kMaxPayloadSize) {
    throw WriterError("a compressed setup program exceeds " + std::to_string(kMaxPayloadSize) +
                      " bytes");
  }
  if (totalSize > kMaxPackageSize) {
    throw WriterError("the package would be " + std::to_string(totalSize) +
                      " bytes; the launcher reads packages below 2 GiB (" +
                      std::to_string(kMaxPackageSize + 1) + " bytes)");
  }

  PackageHeader header;
  header.lzmaProperties = LzmaPropertiesByte(recipe.lc, recipe.lp, recipe.pb);
  header.lzmaDictionarySize = recipe.dictionarySize;
  header.allowedWindows = recipe.allowedWindows;
  header.win10MinRelease = recipe.win10Min;
  header.win10MaxRelease = recipe.win10Max;
  header.win11MinRelease = recipe.win11Min;
  header.win11MaxRelease = recipe.win11Max;
  header.elevationMode = recipe.elevationMode;
  if (recipe.x86) {
    header.payload32 = {static_cast<uint32_t>(offset32), static_cast<uint32_t>(packed32.size()),
                        static_cast<uint32_t>(recipe.x86->size())};
  }
  if (recipe.x64) {
    header.payload64 = {static_cast<uint32_t>(offset64), static_cast<uint32_t>(packed64.size()),
                        static_cast<uint32_t>(recipe.x64->size())};
  } else if (recipe.barFrom64Bit) {
    header.payload64.offset = kBarredFrom64Bit;
  }
  header.afterMessages = static_cast<uint32_t>(afterMessages);
  header.expiryYear = recipe.expiryYear;
  header.expiryMonth = recipe.expiryMonth;
  header.expiryDay = recipe.expiryDay;
  MessageDescriptor* descriptors[3] = {&header.expiredMessage, &header.wrongWidthMessage,
                                       &header.unsupportedWindowsMessage};
  for (int i = 0; i < 3; ++i) {
    *descriptors[i] = {static_cast<uint32_t>(messageOffsets[i]),
                       static_cast<uint16_t>(messages[i].size() / 2)};
  }
  if (recipe.adjustHeader) recipe.adjustHeader(header);

  BuiltPackage package;
  package.bytes.reserve(totalSize);
  package.bytes = recipe.stub;
  package.bytes.resize(offset32);
  EncodeHeaderInto(header, static_cast<uint32_t>(packageOffset), package.bytes);
  package.bytes.insert(package.bytes.end(), packed32.begin(), packed32.end());
  package.bytes.insert(package.bytes.end(), packed64.begin(), packed64.end());
  for (const auto& m : messages) package.bytes.insert(package.bytes.end(), m.begin(), m.end());
  package.bytes.insert(package.bytes.end(), recipe.trailingData.begin(), recipe.trailingData.end());

  PackageLocator locator;
  locator.packageOffset = static_cast<uint32_t>(packageOffset);
  locator.crcLength = static_cast<uint32_t>(afterMessages - packageOffset);
  locator.crc = Crc32(package.bytes.data() + packageOffset, locator.crcLength);
  locator.minSizeLow = static_cast<uint32_t>(totalSize);
  locator.minSizeHigh = static_cast<uint32_t>(totalSize >> 32);
  if (recipe.detachedMinSize != 0) {
    locator.detachedMinSize = recipe.detachedMinSize;
  } else if (recipe.detached) {
    locator.detachedMinSize = static_cast<uint32_t>(totalSize);
  }
  if (recipe.stubWithDigest) {
    const Sha256Digest digest = Sha256Of(package.bytes.data() + packageOffset, locator.crcLength);
    const std::vector<uint8_t> stub = recipe.stubWithDigest(digest);
    if (stub.size() != recipe.stub.size()) {
      throw WriterError("the stub changed its size when it took the package digest");
    }
    std::copy(stub.begin(), stub.end(), package.bytes.begin());
    package.digest = digest;
  }
  if (recipe.adjustLocator) recipe.adjustLocator(locator);
  EncodeLocatorInto(locator, package.bytes);
  package.locator = locator;
  package.header = header;
  return package;
}

void StoreLocator(BuiltPackage& package, const PackageLocator& locator) {
  EncodeLocatorInto(locator, package.bytes);
  package.locator = locator;
}

void StoreHeader(BuiltPackage& package, const PackageHeader& header) {
  EncodeHeaderInto(header, package.locator.packageOffset, package.bytes);
  package.header = header;
  Reseal(package);
}

void Reseal(BuiltPackage& package) {
  PackageLocator locator = package.locator;
  const uint64_t end = static_cast<uint64_t>(locator.packageOffset) + locator.crcLength;
  if (end > package.bytes.size()) throw WriterError("checksum span reaches past the package");
  locator.crc = Crc32(package.bytes.data() + locator.packageOffset, locator.crcLength);
  StoreLocator(package, locator);
}

}  // namespace stub::writer
