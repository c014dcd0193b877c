// CPosMap: handle -> logical position table.
#include "cabinet/PosMap.h"

#include <algorithm>

namespace Cabinet {

namespace {
constexpr int32_t INITIAL_CAPACITY = 4;
}

CPosMap::CPosMap()
    : m_Capacity(INITIAL_CAPACITY), m_Count(0), m_Keys(new int32_t[INITIAL_CAPACITY]),
      m_Values(new int32_t[INITIAL_CAPACITY])
{
}

CPosMap::~CPosMap()
{
    delete[] m_Keys;
    delete[] m_Values;
}

int32_t CPosMap::Find(int32_t key) const
{
    for (int32_t i = 0; i < m_Count; ++i) {
        if (m_Keys[i] == key) {
            return i;
        }
    }
    return -1;
}

bool CPosMap::TryGet(int32_t key, int32_t &value) const
{
    const int32_t i = Find(key);
    if (i < 0) {
        value = 0;
        return false;
    }
    value = m_Values[i];
    return true;
}

int32_t CPosMap::Get(int32_t key) const
{
    int32_t value = 0;
    return TryGet(key, value) ? value : -1;
}

void CPosMap::Set(int32_t key, int32_t value)
{
    int32_t i = Find(key);
    if (i < 0) {
        if (m_Count >= m_Capacity) {
            const int32_t capacity = 2 * m_Capacity;
            int32_t *keys = new int32_t[static_cast<size_t>(capacity)];
            int32_t *values = new int32_t[static_cast<size_t>(capacity)];
            std::copy(m_Keys, m_Keys + m_Count, keys);
            std::copy(m_Values, m_Values + m_Count, values);
            delete[] m_Keys;
            delete[] m_Values;
            m_Keys = keys;
            m_Values = values;
            m_Capacity = capacity;
        }
        i = m_Count++;
    }
    m_Values[i] = value;
    m_Keys[i] = key;
}

void CPosMap::Remove(int32_t key)
{
    const int32_t i = Find(key);
    if (i < 0) {
        return;
    }
    --m_Count;
    // The last entry fills the gap; removing the last entry only shortens.
    m_Values[i] = m_Values[m_Count];
    m_Keys[i] = m_Keys[m_Count];
}

} // namespace Cabinet
