#include "rfc3339.h"

#include <cstdio>

namespace zem::calls {
namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + std::int64_t(doe) - 719468;
}

void civilFromDays(std::int64_t z, int &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(std::int64_t(yoe) + era * 400 + (m <= 2));
}

bool digits(std::string_view s, std::size_t at, std::size_t n, unsigned &value)
{
    if (at + n > s.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        value = value * 10 + unsigned(s[i] - '0');
    }
    return true;
}

} // namespace

std::string toRfc3339(std::int64_t wallMs)
{
    std::int64_t days = wallMs / 86400000;
    std::int64_t ms = wallMs % 86400000;
    if (ms < 0) {
        ms += 86400000;
        --days;
    }
    int y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%03uZ", y, m, d,
        unsigned(ms / 3600000), unsigned(ms / 60000 % 60), unsigned(ms / 1000 % 60),
        unsigned(ms % 1000));
    return text;
}

bool fromRfc3339(std::string_view s, std::int64_t &wallMs)
{
    unsigned y, mo, d, h, mi, sec;
    if (!digits(s, 0, 4, y) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, mo) || s[7] != '-'
        || !digits(s, 8, 2, d) || (s[10] != 'T' && s[10] != 't' && s[10] != ' ')
        || !digits(s, 11, 2, h) || s[13] != ':' || !digits(s, 14, 2, mi) || s[16] != ':'
        || !digits(s, 17, 2, sec))
        return false;
    static const unsigned monthDays[] = { 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (mo < 1 || mo > 12 || d < 1 || d > monthDays[mo - 1] || h > 23 || mi > 59 || sec > 60)
        return false;
    std::size_t at = 19;
    unsigned ms = 0;
    if (at < s.size() && s[at] == '.') {
        std::size_t n = 0;
        for (++at; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at, ++n)
            if (n < 3)
                ms = ms * 10 + unsigned(s[at] - '0');
        if (n == 0)
            return false;
        for (; n < 3; ++n)
            ms *= 10;
    }
    std::int64_t offsetMinutes = 0;
    if (at < s.size() && (s[at] == 'Z' || s[at] == 'z')) {
        ++at;
    } else if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
        unsigned oh, om;
        if (!digits(s, at + 1, 2, oh) || at + 3 >= s.size() || s[at + 3] != ':'
            || !digits(s, at + 4, 2, om) || oh > 23 || om > 59)
            return false;
        offsetMinutes = (s[at] == '-' ? -1 : 1) * std::int64_t(oh * 60 + om);
        at += 6;
    } else {
        return false;
    }
    if (at != s.size())
        return false;
    const std::int64_t days = daysFromCivil(y, mo, d);
    wallMs = ((days * 24 + h) * 60 + mi - offsetMinutes) * 60000 + std::int64_t(sec) * 1000 + ms;
    return true;
}

} // namespace zem::calls
