// Helpers on backslash-separated wide paths.
//
// Only the backslash separates levels here; a slash is an ordinary
// character. Callers that accept slashes turn them into backslashes first
// (CStrBufW::Replace).
#pragma once

#include "platform/Win32.h"
#include "support/StrBuf.h"

// 1 when path names an existing directory, else 0. A missing or unreadable
// path counts as no directory; the platform's error code is not consulted.
BOOL IsDirectory(LPCWSTR path);

// Adds one backslash to a text of at least 2 characters that does not end in
// one. A text of 0 or 1 characters (a lone backslash included) stays as it
// is; a text ending in a slash gets a backslash behind the slash.
void AppendBackslash(CStrBufW &path);

// Removes one trailing backslash from a text of at least 2 characters, in
// place: "C:\" becomes "C:", "a\\" becomes "a\". A one-character text stays.
void StripBackslash(WCHAR *text);

// Splits path at its last backslash. directory (if given) receives the text
// up to and including that backslash, name (if given) the text after it.
// Without a backslash, directory becomes empty and name receives the whole
// path. directory and name must be other buffers than path. Throws
// STRBUF_NO_TERMINATOR when path has lost its terminator.
void SplitPath(const CStrBufW &path, CStrBufW *directory, CStrBufW *name);
