// Which of the vendor's language entries speaks to a user, and how well.
//
// A user is described by a short list of Windows LANGIDs, best first: the
// display language, then the fallbacks the user chose in Windows (a Catalan
// user whose Windows falls back to Spanish lists both). An entry serves a
// language exactly, or as another region of the same language written in the
// same script: German for Austria serves a Swiss user, but Simplified Chinese
// never serves a reader of Traditional Chinese, nor Croatian a Serbian one.
#pragma once

#include <cstdint>

namespace stub {

// Enough for the display language and the fallbacks people actually set.
constexpr uint32_t kMaxUserLanguages = 8;

struct UserLanguages {
  uint16_t ids[kMaxUserLanguages] = {};
  uint32_t count = 0;

  // Appends `language` unless it is 0, already listed, or the list is full.
  void Add(uint16_t language);
};

// The primary language of a LANGID (its low ten bits).
constexpr uint16_t PrimaryLanguage(uint16_t language) { return language & 0x3FF; }

// Whether `a` and `b` are the same language in the same script: the same
// primary language, and for the languages Windows writes in more than one
// script (Chinese; Serbian, Croatian and Bosnian, which share one primary
// language; Uzbek, Azerbaijani, Mongolian, ...) the same script and, for the
// Serbo-Croatian family, the same language. A sublanguage of such a language
// that the table does not know, and a LANG_NEUTRAL id, agree with themselves
// alone.
bool SameLanguageAndScript(uint16_t a, uint16_t b);

// How well an entry for `entry` serves `user`: 2i for an exact match of the
// user's i-th language, 2i + 1 for the same language and script, and
// kNoMatch when it serves none of them. Lower is better.
constexpr uint32_t kNoMatch = 0xFFFFFFFFu;
uint32_t LanguageMatchRank(uint16_t entry, const UserLanguages& user);

// The LANGIDs of a list as GetUserPreferredUILanguages gives it with
// MUI_LANGUAGE_ID: hexadecimal numbers ("0403"), each ended by a NUL, the
// list by a second one, `length` units in all. At most `capacity` go into
// `languages`; an entry that is not such a number (or is 0) is skipped.
// Returns how many.
uint32_t ParseLanguageIdList(const char16_t* list, uint32_t length, uint16_t* languages,
                             uint32_t capacity);

}  // namespace stub
