// Dictionary version dates: the date text publishers write, the 16-byte date the version
// library hands out, and the version stamp a dictionary file carries at its very end.
// Portable C++: shared by dict_ver.dll and the publishers' tool, and built natively too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Laid out exactly as the Win32 SYSTEMTIME, which is what dict_ver.dll fills.
struct DictSystemTime {
    uint16_t year;
    uint16_t month;
    uint16_t dayOfWeek;  // 0 = Sunday; filled for callers, never compared
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};
static_assert(sizeof(DictSystemTime) == 16, "the version date is 16 bytes");

constexpr uint16_t DICT_DATE_MIN_YEAR = 1601;  // the first year a Windows file time can hold
constexpr uint16_t DICT_DATE_MAX_YEAR = 9999;
constexpr size_t DICT_DATE_SHORT_LENGTH = 10;  // "YYYY-MM-DD"
constexpr size_t DICT_DATE_LONG_LENGTH = 19;   // "YYYY-MM-DD hh:mm:ss"

// Accepts exactly "YYYY-MM-DD" or "YYYY-MM-DD hh:mm:ss": ASCII digits with their zero
// padding, a real calendar day, hours 00-23, minutes and seconds 00-59. Anything else,
// surrounding spaces included, is refused and leaves date unchanged.
bool ParseDateText(const std::string& text, DictSystemTime& date);
// Same rule for text given as UTF-16 (or wide) units; any unit beyond ASCII refuses it.
template <typename Unit>
bool ParseDateUnits(const Unit* text, DictSystemTime& date) {
    if (text == nullptr) return false;
    std::string ascii;
    for (; *text != 0; ++text) {
        if (static_cast<uint32_t>(*text) >= 0x80 || ascii.size() > DICT_DATE_LONG_LENGTH) return false;
        ascii.push_back(static_cast<char>(*text));
    }
    return ParseDateText(ascii, date);
}

// The days of a month (1-12) in the Gregorian calendar.
unsigned DaysInMonth(unsigned year, unsigned month);
// Reads width digits at text[at]; false when any of them is not an ASCII digit.
bool DateDigits(const std::string& text, size_t at, size_t width, unsigned& value);

// Above 0 when first is later, 0 when equal, below 0 when earlier; dayOfWeek is ignored.
int CompareDictDates(const DictSystemTime& first, const DictSystemTime& second);
uint16_t DayOfWeek(uint16_t year, uint16_t month, uint16_t day);

// The version stamp: the last DICT_STAMP_SIZE bytes of a dictionary file.
//   0  24 bytes  the date text in ASCII, NUL-padded (one of the two accepted forms)
//   24  8 bytes  DICT_STAMP_MAGIC
// A reader seeks to the end and reads those bytes only. A trailer with the magic whose
// text is not an accepted date, or whose padding is not all NUL, is damaged: no stamp.
constexpr size_t DICT_STAMP_SIZE = 32;
constexpr size_t DICT_STAMP_TEXT_SIZE = 24;
constexpr char DICT_STAMP_MAGIC[8] = {'Q', 'B', 'D', 'V', 'S', 'T', 'M', '1'};

// True when the trailer ends with the magic, damaged or not: a writer replaces it in place.
bool HasStampMagic(const unsigned char (&trailer)[DICT_STAMP_SIZE]);
// True for a sound stamp; text and date receive its date, and stay unchanged otherwise.
bool ReadStampTrailer(const unsigned char (&trailer)[DICT_STAMP_SIZE], std::string& text, DictSystemTime& date);
// False (trailer unchanged) when text is not an accepted date text.
bool BuildStampTrailer(const std::string& text, unsigned char (&trailer)[DICT_STAMP_SIZE]);
