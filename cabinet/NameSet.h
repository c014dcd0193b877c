// CNameSet: the names an extraction run has met, to refuse a second file
// of the same name and to remember the folders already checked.
//
// A hash set of UTF-16 texts in one growing pool, so that tens of
// thousands of names cost two allocations, not one each. Allocation
// failure throws std::bad_alloc (the extractor turns it into an error).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Win32.h"

namespace Cabinet {

class CNameSet {
public:
    // foldCase: texts that differ only in letter case (FoldCase) are equal.
    explicit CNameSet(bool foldCase) : m_FoldCase(foldCase) {}
    ~CNameSet();
    CNameSet(const CNameSet &) = delete;
    CNameSet &operator=(const CNameSet &) = delete;

    // Adds length units of text; false, leaving the set as it was, when an
    // equal text is in it already.
    bool Add(const WCHAR *text, size_t length);
    // True when an equal text is in the set. (Not const: the text is
    // folded into the pool's spare room to be compared.)
    bool Contains(const WCHAR *text, size_t length);
    // Forgets every text and keeps the storage.
    void Clear();

private:
    // Slot of the text stored at pool offset entry, or of the empty slot
    // where it would go.
    size_t FindSlot(size_t entry, uint32_t hash) const;
    // Copies text into the pool (folded if so asked) and returns its offset.
    size_t Store(const WCHAR *text, size_t length);
    void GrowSlots();

    bool m_FoldCase;
    WCHAR *m_Pool = nullptr; // entries: length (2 units, low first), then the text
    size_t m_PoolUsed = 0;
    size_t m_PoolSize = 0;
    uint32_t *m_Slots = nullptr; // pool offset + 1 of each entry, 0 for an empty slot
    size_t m_SlotCount = 0;      // a power of two, at least twice the entries
    size_t m_Entries = 0;
};

} // namespace Cabinet
