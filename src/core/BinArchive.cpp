#include "BinArchive.h"

#include "DynString.h"
#include "FileIO.h"
#include "NameBuffer.h"

#include <cstring>
#include <vector>

CBinArchive::CBinArchive(const char* path, std::ios::openmode openMode)
    : std::basic_iostream<char>(nullptr), mode(openMode)
{
    Open(path, openMode);
}

CBinArchive::CBinArchive(std::streambuf* buffer, std::ios::openmode openMode)
    : std::basic_iostream<char>(nullptr), mode(openMode)
{
    std::basic_ios<char>::rdbuf(buffer); // a null buffer leaves the stream bad
}

CBinArchive::CBinArchive() : std::basic_iostream<char>(nullptr), mode(std::ios::in | std::ios::binary)
{
    clear();
}

CBinArchive::~CBinArchive()
{
    close();
}

bool CBinArchive::Open(const char* path, std::ios::openmode openMode)
{
    if (is_open())
        close();
    mode = openMode;
    dataEnd = -1;
    fileError.clear();
    input.reset();
    output.reset();
    std::basic_ios<char>::rdbuf(nullptr);
    if (path == nullptr) {
        setstate(std::ios::failbit);
        return false;
    }
    if (openMode & std::ios::in) {
        input.reset(new CFileInput());
        if (!input->Open(path)) {
            fileError = input->GetError();
            input.reset();
            setstate(std::ios::failbit);
            return false;
        }
        std::basic_ios<char>::rdbuf(input.get());
    } else {
        output.reset(new CAtomicFileBuffer());
        if (!output->Open(path)) {
            fileError = output->GetError();
            output.reset();
            setstate(std::ios::failbit);
            return false;
        }
        std::basic_ios<char>::rdbuf(output.get());
    }
    return true;
}

void CBinArchive::close()
{
    // A stored file replaces the old one only when every write worked.
    if (output && output->IsOpen()) {
        if (fail()) {
            fileError = output->GetError();
            output->Discard();
        } else if (!output->Close()) {
            fileError = output->GetError();
            setstate(std::ios::failbit);
        }
    }
    if (input)
        input->Close();
}

bool CBinArchive::is_open() const
{
    return (input && input->IsOpen()) || (output && output->IsOpen());
}

void CBinArchive::WriteBytes(const void* source, std::size_t count)
{
    write(static_cast<const char*>(source), static_cast<std::streamsize>(count));
}

CBinArchive& CBinArchive::WriteDouble(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    WriteBytes(bytes, sizeof bytes);
    return *this;
}

CBinArchive& CBinArchive::WriteInt(std::int32_t value)
{
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    WriteBytes(bytes, sizeof bytes);
    return *this;
}

CBinArchive& CBinArchive::WriteByte(unsigned char value)
{
    WriteBytes(&value, 1);
    return *this;
}

CBinArchive& CBinArchive::WriteString(const CDynString& text)
{
    const char* bytes = text.GetText();
    std::size_t length = bytes != nullptr ? std::strlen(bytes) : 0;
    WriteInt(static_cast<std::int32_t>(length));
    if (length > 0)
        WriteBytes(bytes, length);
    return *this;
}

CBinArchive& CBinArchive::WriteName(const CNameBuffer& name)
{
    const char* bytes = name.GetText();
    std::size_t length = std::strlen(bytes);
    WriteInt(static_cast<std::int32_t>(length));
    if (length > 0)
        WriteBytes(bytes, length);
    return *this;
}

bool CBinArchive::ReadBytes(void* target, std::size_t count)
{
    if (fail())
        return false;
    // Straight from the buffer: a primitive is read per call, millions of
    // times in a large project.
    std::streambuf* buffer = rdbuf();
    if (input && buffer == input.get() && input->TakeBuffered(target, count))
        return true;
    std::streamsize got = 0;
    try {
        got = buffer != nullptr ? buffer->sgetn(static_cast<char*>(target), static_cast<std::streamsize>(count)) : 0;
    } catch (...) {
        setstate(std::ios::badbit);
        return false;
    }
    if (static_cast<std::size_t>(got) != count) {
        setstate(std::ios::failbit | std::ios::eofbit);
        return false;
    }
    return true;
}

CBinArchive& CBinArchive::ReadDouble(double& value)
{
    unsigned char bytes[8];
    if (!ReadBytes(bytes, sizeof bytes))
        return *this;
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | bytes[i];
    std::memcpy(&value, &bits, sizeof value);
    return *this;
}

CBinArchive& CBinArchive::ReadInt(std::int32_t& value)
{
    unsigned char bytes[4];
    if (!ReadBytes(bytes, sizeof bytes))
        return *this;
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = (bits << 8) | bytes[i];
    value = static_cast<std::int32_t>(bits);
    return *this;
}

CBinArchive& CBinArchive::ReadByte(unsigned char& value)
{
    unsigned char byte;
    if (ReadBytes(&byte, 1))
        value = byte;
    return *this;
}

CBinArchive& CBinArchive::ReadByte(char& value)
{
    unsigned char byte;
    if (ReadBytes(&byte, 1))
        value = static_cast<char>(byte);
    return *this;
}

CBinArchive& CBinArchive::ReadBool(bool& value)
{
    unsigned char byte;
    if (ReadBytes(&byte, 1))
        value = byte != 0;
    return *this;
}

bool CBinArchive::ReadLength(std::int32_t& length)
{
    std::int32_t count = 0;
    ReadInt(count);
    if (fail() || !CheckCount(count, 1))
        return false;
    length = count;
    return true;
}

CBinArchive& CBinArchive::ReadString(CDynString& text)
{
    if (fail())
        return *this;
    std::int32_t length = 0;
    if (!ReadLength(length)) {
        text = "";
        return *this;
    }
    // Short texts (labels, most strings) need no allocation.
    char small[256];
    std::vector<char> large;
    char* bytes = small;
    if (static_cast<std::size_t>(length) >= sizeof small) {
        large.resize(static_cast<std::size_t>(length) + 1);
        bytes = large.data();
    }
    bytes[length] = '\0';
    if (!ReadBytes(bytes, static_cast<std::size_t>(length))) {
        text = "";
        return *this;
    }
    text.Assign(bytes);
    return *this;
}

CBinArchive& CBinArchive::ReadName(CNameBuffer& name)
{
    if (fail())
        return *this;
    std::int32_t length = 0;
    if (!ReadLength(length)) {
        name = "";
        return *this;
    }
    // Short texts (labels, most strings) need no allocation.
    char small[256];
    std::vector<char> large;
    char* bytes = small;
    if (static_cast<std::size_t>(length) >= sizeof small) {
        large.resize(static_cast<std::size_t>(length) + 1);
        bytes = large.data();
    }
    bytes[length] = '\0';
    if (!ReadBytes(bytes, static_cast<std::size_t>(length))) {
        name = "";
        return *this;
    }
    name = bytes;
    return *this;
}

void CBinArchive::ResetEnd()
{
    dataEnd = -1;
    std::streambuf* buffer = rdbuf();
    if (buffer == nullptr)
        return;
    std::streampos here = buffer->pubseekoff(0, std::ios::cur, std::ios::in);
    if (here == std::streampos(-1))
        return;
    std::streampos last = buffer->pubseekoff(0, std::ios::end, std::ios::in);
    if (buffer->pubseekpos(here, std::ios::in) != here) {
        setstate(std::ios::badbit);
        return;
    }
    if (last != std::streampos(-1))
        dataEnd = static_cast<std::int64_t>(last);
}

std::int64_t CBinArchive::RemainingBytes()
{
    if (fail())
        return 0;
    if (dataEnd < 0)
        ResetEnd();
    std::streambuf* buffer = rdbuf();
    if (dataEnd < 0 || buffer == nullptr)
        return 0;
    std::streampos here = buffer->pubseekoff(0, std::ios::cur, std::ios::in);
    if (here == std::streampos(-1))
        return 0;
    std::int64_t left = dataEnd - static_cast<std::int64_t>(here);
    return left > 0 ? left : 0;
}

bool CBinArchive::CheckCount(std::int64_t count, std::int64_t elementSize)
{
    if (fail())
        return false;
    if (elementSize < 1)
        elementSize = 1;
    if (count < 0 || count > RemainingBytes() / elementSize) {
        setstate(std::ios::failbit);
        return false;
    }
    return true;
}
