// printf-style formatting into a QString, for the texts a list shows.
#pragma once

#include <QString>

#include <cstdio>

template <class... A>
QString F(const char* format, A... args)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return QString::fromLatin1(buffer);
}
