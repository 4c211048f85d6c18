// The label of a point, observation, fiducial mark or scale-bar end: at most
// 16 characters of A-Z, 0-9, '_' and '-', held upper-cased and inline.
// A label may end in a number: the trailing digits with a '-' directly before
// them as sign; the part before is the prefix. Labels sort in natural order:
// prefix first, then the number ("P2" before "P10"), then, for labels that tie
// ("A01" and "A1"), their bytes, so the order is total.
#pragma once

#include <cstdint>

class CNameBuffer {
public:
    static constexpr int kMaxLength = 16;

    CNameBuffer();
    // Starts empty, then Set: an invalid text gives the empty label.
    CNameBuffer(const char* text);
    CNameBuffer(const CNameBuffer& other);
    virtual ~CNameBuffer() = default;

    // False, label unchanged, for a null text, a text longer than 16
    // characters or one with an invalid character; else stores it upper-cased.
    bool Set(const char* text);
    // True when any character is not an ASCII letter or digit, '_' or '-'.
    static bool HasInvalidChar(const char* text);

    // Set; an invalid text leaves the label as it was.
    CNameBuffer operator=(const char* text);
    // Copies the other label verbatim.
    CNameBuffer& operator=(const CNameBuffer& other);
    bool Copy(const CNameBuffer& other);

    const char* GetText() const { return text; }

    bool operator==(const CNameBuffer& other) const;
    bool operator!=(const CNameBuffer& other) const { return !(*this == other); }
    // False when other is empty.
    bool StartsWith(const CNameBuffer& other) const;

    // Natural order.
    bool operator<(const CNameBuffer& other) const;
    bool operator>=(const CNameBuffer& other) const { return !(*this < other); }

    // Index where the trailing number (with its sign) begins; the length when
    // there is none.
    int FindNumberStart() const;
    // The trailing number, 0 when there is none; a number beyond the int range
    // gives INT_MAX or INT_MIN.
    int GetNumber() const;
    // Label = prefix + decimal n. False, label unchanged, when that would be
    // longer than 16 characters.
    bool SetNumber(int n);
    // Adds 1 to the number ("T9" -> "T10", "T" -> "T1"); returns the label after.
    CNameBuffer operator++(int);
    // Adds n to the number; returns the label after. The sum is formed exactly,
    // whatever the size of the number; a result too long leaves the label as it was.
    CNameBuffer AddToNumber(int n);

    // Bytes whose memcmp order is the natural order (0 for equal labels),
    // for sorting many labels without parsing them at each comparison.
    static constexpr int kSortKeyBytes = 51;
    void GetSortKey(unsigned char (&key)[kSortKeyBytes]) const;

    // A watched label counts each change of its text in one process-wide
    // counter, so a list that holds watched labels can tell in O(1) that
    // none of them changed. Copies are not watched.
    void Watch()
    {
        if (!watched)
            watched = true;
    }
    static uint64_t WatchedChanges();

private:
    void Changed();

    // The trailing number exactly (at most 16 digits fit a 64-bit integer).
    long long GetNumber64() const;
    bool SetNumber64(long long n);

    char text[20];
    bool watched = false;
};
