#include "dictver/DictDate.h"

#include <cstring>

namespace {

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

unsigned DaysInMonth(unsigned year, unsigned month) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool DateDigits(const std::string& text, size_t at, size_t width, unsigned& value) {
    value = 0;
    for (size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

uint16_t DayOfWeek(uint16_t year, uint16_t month, uint16_t day) {
    static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int y = year;
    if (month < 3) y -= 1;
    return static_cast<uint16_t>((y + y / 4 - y / 100 + y / 400 + kOffsets[month - 1] + day) % 7);
}

bool ParseDateText(const std::string& text, DictSystemTime& date) {
    const bool withTime = text.size() == DICT_DATE_LONG_LENGTH;
    if (text.size() != DICT_DATE_SHORT_LENGTH && !withTime) return false;
    unsigned year, month, day, hour = 0, minute = 0, second = 0;
    if (!DateDigits(text, 0, 4, year) || text[4] != '-' || !DateDigits(text, 5, 2, month) || text[7] != '-' ||
        !DateDigits(text, 8, 2, day))
        return false;
    if (withTime && (text[10] != ' ' || !DateDigits(text, 11, 2, hour) || text[13] != ':' ||
                     !DateDigits(text, 14, 2, minute) || text[16] != ':' || !DateDigits(text, 17, 2, second)))
        return false;
    if (year < DICT_DATE_MIN_YEAR || year > DICT_DATE_MAX_YEAR || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59)
        return false;
    DictSystemTime parsed{};
    parsed.year = static_cast<uint16_t>(year);
    parsed.month = static_cast<uint16_t>(month);
    parsed.day = static_cast<uint16_t>(day);
    parsed.dayOfWeek = DayOfWeek(parsed.year, parsed.month, parsed.day);
    parsed.hour = static_cast<uint16_t>(hour);
    parsed.minute = static_cast<uint16_t>(minute);
    parsed.second = static_cast<uint16_t>(second);
    date = parsed;
    return true;
}

int CompareDictDates(const DictSystemTime& first, const DictSystemTime& second) {
    const uint16_t a[] = {first.year, first.month, first.day, first.hour, first.minute, first.second, first.milliseconds};
    const uint16_t b[] = {second.year, second.month, second.day, second.hour, second.minute, second.second, second.milliseconds};
    for (size_t i = 0; i < sizeof a / sizeof a[0]; ++i) {
        if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
    }
    return 0;
}

bool HasStampMagic(const unsigned char (&trailer)[DICT_STAMP_SIZE]) {
    return std::memcmp(trailer + DICT_STAMP_TEXT_SIZE, DICT_STAMP_MAGIC, sizeof DICT_STAMP_MAGIC) == 0;
}

bool ReadStampTrailer(const unsigned char (&trailer)[DICT_STAMP_SIZE], std::string& text, DictSystemTime& date) {
    if (!HasStampMagic(trailer)) return false;
    size_t length = 0;
    while (length < DICT_STAMP_TEXT_SIZE && trailer[length] != 0) ++length;
    for (size_t i = length; i < DICT_STAMP_TEXT_SIZE; ++i)
        if (trailer[i] != 0) return false;
    const std::string found(reinterpret_cast<const char*>(trailer), length);
    if (!ParseDateText(found, date)) return false;
    text = found;
    return true;
}

bool BuildStampTrailer(const std::string& text, unsigned char (&trailer)[DICT_STAMP_SIZE]) {
    DictSystemTime date;
    if (!ParseDateText(text, date)) return false;
    std::memset(trailer, 0, DICT_STAMP_SIZE);
    std::memcpy(trailer, text.data(), text.size());
    std::memcpy(trailer + DICT_STAMP_TEXT_SIZE, DICT_STAMP_MAGIC, sizeof DICT_STAMP_MAGIC);
    return true;
}
