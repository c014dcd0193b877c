// CNameSet: open addressing over offsets into a text pool.
#include "cabinet/NameSet.h"

#include <cstring>

#include "cabinet/CaseFold.h"

namespace Cabinet {

namespace {

constexpr size_t INITIAL_SLOTS = 64;
constexpr size_t INITIAL_POOL = 4096;
constexpr size_t ENTRY_HEADER = 2; // the length, in two units

uint32_t HashUnits(const WCHAR *text, size_t length)
{
    uint32_t hash = 2166136261u; // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash = (hash ^ static_cast<uint16_t>(text[i])) * 16777619u;
    }
    return hash;
}

size_t EntryLength(const WCHAR *entry)
{
    return static_cast<uint16_t>(entry[0]) | static_cast<size_t>(static_cast<uint16_t>(entry[1])) << 16;
}

} // namespace

CNameSet::~CNameSet()
{
    delete[] m_Pool;
    delete[] m_Slots;
}

void CNameSet::Clear()
{
    m_PoolUsed = 0;
    m_Entries = 0;
    if (m_Slots != nullptr) {
        std::memset(m_Slots, 0, m_SlotCount * sizeof m_Slots[0]);
    }
}

size_t CNameSet::Store(const WCHAR *text, size_t length)
{
    const size_t needed = m_PoolUsed + ENTRY_HEADER + length;
    if (needed > m_PoolSize) {
        size_t size = m_PoolSize == 0 ? INITIAL_POOL : m_PoolSize * 2;
        while (size < needed) {
            size *= 2;
        }
        WCHAR *pool = new WCHAR[size];
        if (m_PoolUsed != 0) {
            std::memcpy(pool, m_Pool, m_PoolUsed * sizeof pool[0]);
        }
        delete[] m_Pool;
        m_Pool = pool;
        m_PoolSize = size;
    }
    WCHAR *entry = m_Pool + m_PoolUsed;
    entry[0] = static_cast<WCHAR>(length & 0xFFFF);
    entry[1] = static_cast<WCHAR>(length >> 16);
    std::memcpy(entry + ENTRY_HEADER, text, length * sizeof text[0]);
    if (m_FoldCase) {
        FoldCase(entry + ENTRY_HEADER, length);
    }
    return m_PoolUsed;
}

size_t CNameSet::FindSlot(size_t entry, uint32_t hash) const
{
    const WCHAR *wanted = m_Pool + entry;
    const size_t length = EntryLength(wanted);
    const size_t mask = m_SlotCount - 1;
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        if (m_Slots[slot] == 0) {
            return slot;
        }
        const WCHAR *present = m_Pool + (m_Slots[slot] - 1);
        if (EntryLength(present) == length &&
            std::memcmp(present + ENTRY_HEADER, wanted + ENTRY_HEADER, length * sizeof wanted[0]) == 0) {
            return slot;
        }
    }
}

void CNameSet::GrowSlots()
{
    const size_t count = m_SlotCount == 0 ? INITIAL_SLOTS : m_SlotCount * 2;
    uint32_t *slots = new uint32_t[count]();
    uint32_t *old = m_Slots;
    const size_t oldCount = m_SlotCount;
    m_Slots = slots;
    m_SlotCount = count;
    for (size_t i = 0; i < oldCount; ++i) {
        if (old[i] != 0) {
            const WCHAR *entry = m_Pool + (old[i] - 1);
            const size_t offset = old[i] - 1;
            m_Slots[FindSlot(offset, HashUnits(entry + ENTRY_HEADER, EntryLength(entry)))] = old[i];
        }
    }
    delete[] old;
}

bool CNameSet::Add(const WCHAR *text, size_t length)
{
    if ((m_Entries + 1) * 2 > m_SlotCount) {
        GrowSlots();
    }
    // Stored at the end of the pool first; a duplicate leaves it unused.
    const size_t offset = Store(text, length);
    const uint32_t hash = HashUnits(m_Pool + offset + ENTRY_HEADER, length);
    const size_t slot = FindSlot(offset, hash);
    if (m_Slots[slot] != 0) {
        return false;
    }
    m_Slots[slot] = static_cast<uint32_t>(offset + 1);
    m_PoolUsed = offset + ENTRY_HEADER + length;
    ++m_Entries;
    return true;
}

bool CNameSet::Contains(const WCHAR *text, size_t length)
{
    if (m_Entries == 0) {
        return false;
    }
    // Looked up through a scratch entry behind the pool's texts.
    const size_t offset = Store(text, length);
    const uint32_t hash = HashUnits(m_Pool + offset + ENTRY_HEADER, length);
    return m_Slots[FindSlot(offset, hash)] != 0;
}

} // namespace Cabinet
