// The system's own heap string: an owned, NUL-terminated 8-bit buffer with its
// capacity. Buffers grow to exactly the needed size and never shrink.
// Formatting uses the string's own printf-style engine, always in the C locale.
#pragma once

#include <cstdarg>
#include <iosfwd>

class CDynString {
public:
    CDynString();
    CDynString(const char* text);
    CDynString(const CDynString& other);
    virtual ~CDynString();

    // Copies the text in; a null text changes nothing. Always true.
    bool Assign(const char* text);
    // Replaces the buffer by one of n bytes holding "" (n <= 0: no buffer).
    void AllocBuffer(int n);

    CDynString& operator=(const CDynString& other);
    CDynString& operator=(const char* other);

    CDynString& operator+=(const char* other);
    CDynString& operator+=(const CDynString& other);
    CDynString& operator+=(char c);

    CDynString operator+(const CDynString& other) const;
    CDynString operator+(const char* other) const;

    // The text; "" when there is no buffer.
    const char* GetText() const;
    int GetLength() const;
    // Bytes allocated, terminator included; 0 when there is no buffer.
    int GetCapacity() const { return capacity; }
    bool IsEmpty() const;
    // Makes the text "" and keeps the buffer.
    void Empty();

    bool operator==(const CDynString& other) const;
    bool operator!=(const CDynString& other) const { return !(*this == other); }
    // A null text compares as "".
    bool operator==(const char* other) const;
    bool operator!=(const char* other) const { return !(*this == other); }

    // A null text matches only a string without buffer, and such a string
    // matches nothing else.
    bool IsEqual(const char* other) const;
    bool IsEqual(const CDynString& other) const;

    int Find(char c) const;
    // Index of the first occurrence; an empty needle is found at 0, a null one never.
    int Find(const char* needle) const;
    int ReverseFind(char c) const;

    // Counts outside the text are clamped to it.
    CDynString Left(int n) const;
    CDynString Right(int n) const;
    // Characters first..last, both included.
    CDynString Mid(int first, int last) const;

    // Prefixes (width - length) / 2 blanks when the text is shorter than width.
    void Center(int width);

    // Empties the string (keeping its buffer) and appends the formatted text.
    // Integer arguments are int, floating ones double, whatever the size
    // letters l, h and L say; "%s" takes a NUL-terminated char pointer.
    void Format(const char* format, ...);
    // Appends the formatted text.
    void AppendFormat(const char* format, ...);
    void AppendFormatV(const char* format, va_list args);

protected:
    char* text = nullptr;
    int capacity = 0;

private:
    // Appends n bytes of s (which may point into this string's own buffer).
    void AppendBytes(const char* s, int n);
};

std::ostream& operator<<(std::ostream& os, const CDynString& s);
