#include "DateStamp.h"

#include "DynString.h"
#include "NumberText.h"

#include <ctime>
#include <locale.h>
#include <time.h>

CDateStamp::CDateStamp() : time(static_cast<std::int64_t>(::time(nullptr))) {}

CDateStamp::~CDateStamp() = default;

CDateStamp CDateStamp::Now()
{
    return CDateStamp();
}

CDynString CDateStamp::Format(const char* format) const
{
    CDynString result;
    if (format == nullptr)
        return result;
    std::time_t seconds = static_cast<std::time_t>(time);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return result;
    char buffer[256];
    std::size_t length = 0;
    locale_t locale = ClassicLocale();
    if (locale != static_cast<locale_t>(nullptr))
        length = strftime_l(buffer, sizeof buffer, format, &local, locale);
    else
        length = std::strftime(buffer, sizeof buffer, format, &local);
    buffer[length < sizeof buffer ? length : 0] = '\0';
    result = buffer;
    return result;
}
