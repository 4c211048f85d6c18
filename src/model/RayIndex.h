// A point's observation index per image: for each image of the project the
// index of the point's observation in that image's list, or -1 where the
// image has none. Only the images with an entry are kept, in image order, so
// the memory grows with the point's rays, not with the images. The project
// file holds the full layout (count, then one int per image).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CBinArchive;

class CRayIndex
{
public:
    struct Entry
    {
        int32_t image;
        int32_t observation;
        bool operator==(const Entry& o) const { return image == o.image && observation == o.observation; }
    };

    // The entry of one image, assignable as an int.
    class Ref
    {
    public:
        Ref(CRayIndex& owner, int image) : owner(owner), image(image) {}
        operator int32_t() const { return owner.Get(image); }
        Ref& operator=(int32_t observation)
        {
            owner.Set(image, observation);
            return *this;
        }
        Ref& operator=(const Ref& other) { return *this = static_cast<int32_t>(other); }

    private:
        CRayIndex& owner;
        int image;
    };

    // Number of images covered.
    int GetSize() const { return size; }
    // As a vector of ints: images beyond n go, new images get 0. False,
    // nothing changed, for a negative n.
    bool SetSize(int n);
    // n images, none with an observation.
    void Reset(int n);
    // Room for this many entries, so that setting them allocates once.
    void Reserve(int count)
    {
        if (count > 0)
            entries.reserve(static_cast<size_t>(count));
    }

    // -1 for an image without observation or out of range.
    int32_t Get(int image) const;
    // -1 removes the image's entry; an image out of range changes nothing.
    void Set(int image, int32_t observation);
    int32_t operator[](int image) const { return Get(image); }
    Ref operator[](int image) { return Ref(*this, image); }

    // The images with an observation, in image order.
    const Entry* begin() const { return entries.data(); }
    const Entry* end() const { return entries.data() + entries.size(); }
    int GetEntryCount() const { return static_cast<int>(entries.size()); }
    // Bytes held, the object included.
    std::size_t GetBytes() const { return sizeof(*this) + entries.capacity() * sizeof(Entry); }

    bool operator==(const CRayIndex& other) const { return size == other.size && entries == other.entries; }
    bool operator!=(const CRayIndex& other) const { return !(*this == other); }

    // Count, then one int per image. A load whose count is negative or
    // larger than the rest of the archive, or that is cut short, fails: the
    // index is emptied and the archive marked failed.
    bool Serialize(CBinArchive& ar);

private:
    std::vector<Entry>::iterator Find(int image);

    int32_t size = 0;
    std::vector<Entry> entries;
};
