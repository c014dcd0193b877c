// CPosMap: the logical read position of every open cabinet handle.
//
// A small table of (handle, position) pairs in two flat arrays searched
// linearly; it only ever holds the handles the decompressor has open at one
// time. The order of the entries carries no meaning: a removal moves the last
// entry into the gap. The capacity starts at 4, doubles when a new key does
// not fit and never shrinks.
#pragma once

#include <cstdint>

namespace Cabinet {

class CPosMap {
public:
    // An empty table with room for 4 entries.
    CPosMap();
    ~CPosMap();
    CPosMap(const CPosMap &) = delete;
    CPosMap &operator=(const CPosMap &) = delete;

    // Index of key in the table, or -1 when it is absent.
    int32_t Find(int32_t key) const;
    // True and value := the key's position when present; false and value := 0
    // otherwise.
    bool TryGet(int32_t key, int32_t &value) const;
    // The key's position, or -1 when the key is absent.
    int32_t Get(int32_t key) const;
    // Replaces the position of a present key, or appends a new entry (growing
    // the arrays to twice their capacity when they are full).
    void Set(int32_t key, int32_t value);
    // Deletes the key's entry if present; the last entry moves into its slot.
    void Remove(int32_t key);
    // Drops every entry; the capacity and the arrays stay.
    void Clear() { m_Count = 0; }

    int32_t Capacity() const { return m_Capacity; }
    int32_t Count() const { return m_Count; }
    // Entry i (0 <= i < Count()) of the key and value arrays.
    int32_t KeyAt(int32_t i) const { return m_Keys[i]; }
    int32_t ValueAt(int32_t i) const { return m_Values[i]; }

private:
    int32_t m_Capacity;
    int32_t m_Count;
    int32_t *m_Keys;   // handles
    int32_t *m_Values; // logical positions; entry i belongs to key i
};

} // namespace Cabinet
