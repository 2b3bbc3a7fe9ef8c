#include "package/CRC32.h"

#include "platform/Processor.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define STUB_CRC32_FOLDING 1
#endif

namespace stub {

namespace {

// Eight tables let the loop take eight bytes per step (slicing-by-8), several
// times the speed of the classic one-table loop, with identical results; more
// tables would cost the stub code for a loop that only short inputs and
// processors without carry-less multiplication still use. They are built at
// first use rather than stored, so that the stub's file stays small; the first
// table is the classic byte table.
struct CrcTables {
  uint32_t t[8][256];
  CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
  }
};

const CrcTables& Tables() {
  static const CrcTables tables;
  return tables;
}

inline uint32_t Load32(const uint8_t* p) {
  // Byte-wise assembly keeps the result independent of the host's byte order.
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The bare shift register: no complement going in or coming out, so the
// folded path can hand its remainder over as plain bytes.
uint32_t Advance(uint32_t c, const uint8_t* p, size_t length) {
  const auto& t = Tables().t;
  while (length >= 8) {
    const uint32_t a = Load32(p) ^ c;
    const uint32_t b = Load32(p + 4);
    c = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
        t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
    p += 8;
    length -= 8;
  }
  while (length--) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
  return c;
}

#if STUB_CRC32_FOLDING
#define STUB_CRC32_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

STUB_CRC32_FOLD_TARGET inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Moves a lane forward by the distance k was made for and adds it to next.
STUB_CRC32_FOLD_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                       next);
}

// Zero until the first call asks the processor; then 1 (no) or 2 (yes). A
// zero-initialised plain int, because the stub runs no constructors and has
// no data section to spare.
int foldSupport;
#endif

}  // namespace

namespace detail {

uint32_t Crc32UpdatePortable(uint32_t crc, const void* data, size_t length) {
  return ~Advance(~crc, static_cast<const uint8_t*>(data), length);
}

bool Crc32CanFold() {
#if STUB_CRC32_FOLDING
  if (foldSupport == 0) {
    // Windows is asked first: a processor that has the instructions is of no
    // use when the system does not save their registers (NT 4 on a current
    // processor faults on the first one, before any refusal box). A 486
    // without CPUID says no through __get_cpuid rather than faulting.
    unsigned a, b, c = 0, d;
    const bool canFold = SystemSupportsSse2() && __get_cpuid(1, &a, &b, &c, &d) &&
                         (c & bit_PCLMUL) && (c & bit_SSE4_1);
    foldSupport = canFold ? 2 : 1;
  }
  return foldSupport == 2;
#else
  return false;
#endif
}

void Crc32ForgetProbe() {
#if STUB_CRC32_FOLDING
  foldSupport = 0;
#endif
}

#if STUB_CRC32_FOLDING
// Carry-less multiplication folds the message 64 bytes at a time into four
// 128-bit lanes. The lanes left at the end are congruent to the CRC of
// everything folded so far, so they go through the table loop as 64 ordinary
// bytes followed by the tail: folding them into one and reducing that would
// cost the stub bytes it does not have, for a gain only on short inputs. The
// 32-bit stub may be entered with a stack aligned to 4 bytes only, hence the
// realignment for vector spills.
STUB_CRC32_FOLD_TARGET
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
uint32_t Crc32UpdateFolded(uint32_t crc, const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  // Below 64 bytes there is not one four-lane block to start from.
  if (length < 64) return Crc32UpdatePortable(crc, p, length);
  // Reflected x^(512+32) mod P and x^(512-32) mod P, each shifted left by
  // one: they move a lane's low and high halves 512 bits forward.
  const __m128i fold4 = _mm_set_epi64x(0x1C6E41596, 0x154442BD4);
  __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(~crc)));
  __m128i x1 = Load128(p + 16);
  __m128i x2 = Load128(p + 32);
  __m128i x3 = Load128(p + 48);
  p += 64;
  length -= 64;
  while (length >= 64) {
    x0 = Fold(x0, fold4, Load128(p));
    x1 = Fold(x1, fold4, Load128(p + 16));
    x2 = Fold(x2, fold4, Load128(p + 32));
    x3 = Fold(x3, fold4, Load128(p + 48));
    p += 64;
    length -= 64;
  }
  uint8_t lanes[64];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), x0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 16), x1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 32), x2);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 48), x3);
  return ~Advance(Advance(0, lanes, 64), p, length);
}
#else
uint32_t Crc32UpdateFolded(uint32_t crc, const void* data, size_t length) {
  return Crc32UpdatePortable(crc, data, length);
}
#endif

}  // namespace detail

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
  return detail::Crc32CanFold() ? detail::Crc32UpdateFolded(crc, data, length)
                                : detail::Crc32UpdatePortable(crc, data, length);
}

uint32_t Crc32(const void* data, size_t length) { return Crc32Update(0, data, length); }

}  // namespace stub
