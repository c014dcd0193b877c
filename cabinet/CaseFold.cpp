// FoldCase: a binary search over the runs of CaseFoldTable.inc.
#include "cabinet/CaseFold.h"

#include <cstdint>

namespace Cabinet {

namespace {

// Maps every Step-th unit from First to Last to itself plus Delta (modulo
// 2^16, so that a run can fold downwards).
struct CaseFoldRun {
    uint16_t First;
    uint16_t Last;
    uint16_t Delta;
    uint16_t Step;
};

#include "cabinet/CaseFoldTable.inc"

} // namespace

WCHAR FoldCase(WCHAR ch)
{
    const uint16_t unit = static_cast<uint16_t>(ch);
    // ASCII first: it is nearly every character of nearly every name.
    if (unit < 0x80) {
        return unit >= 'A' && unit <= 'Z' ? static_cast<WCHAR>(unit + 0x20) : ch;
    }
    size_t low = 0;
    size_t high = sizeof CASE_FOLD_RUNS / sizeof CASE_FOLD_RUNS[0];
    while (low < high) {
        const size_t middle = (low + high) / 2;
        const CaseFoldRun &run = CASE_FOLD_RUNS[middle];
        if (unit < run.First) {
            high = middle;
        } else if (unit > run.Last) {
            low = middle + 1;
        } else if ((unit - run.First) % run.Step == 0) {
            return static_cast<WCHAR>(static_cast<uint16_t>(unit + run.Delta));
        } else {
            return ch;
        }
    }
    return ch;
}

void FoldCase(WCHAR *text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        text[i] = FoldCase(text[i]);
    }
}

} // namespace Cabinet
