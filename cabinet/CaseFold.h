// Letter case as Windows file systems ignore it: Unicode simple case folding
// of single UTF-16 units ("Ä" and "ä" name one file, so do "K" and the Kelvin
// sign). Units outside the Basic Multilingual Plane (surrogates) and
// characters without a folding stay as they are.
#pragma once

#include "platform/Win32.h"

namespace Cabinet {

// The folded form of ch.
WCHAR FoldCase(WCHAR ch);

// Folds length units of text in place.
void FoldCase(WCHAR *text, size_t length);

} // namespace Cabinet
