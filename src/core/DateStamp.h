// The date and time printed in report headers. Formatting always uses the C
// locale (English month names, %X as HH:MM:SS) and no shared buffer, so it is
// safe on worker threads whatever the user's locale.
#pragma once

#include <cstdint>

class CDynString;

class CDateStamp {
public:
    // The current calendar time.
    CDateStamp();
    // A given calendar time, in seconds since 1970-01-01 UTC.
    explicit CDateStamp(std::int64_t seconds) : time(seconds) {}
    virtual ~CDateStamp();

    static CDateStamp Now();

    std::int64_t GetTime() const { return time; }

    // The local time of the stamp through a strftime format, e.g.
    // "%d %B, %Y   %X". Results longer than 255 characters give "".
    CDynString Format(const char* format) const;

private:
    std::int64_t time;
};
