// Text rules of the stub's front end: the package caption, the proposed
// destination folder, the composed target and the parent of a folder.
//
// Pure functions on null-terminated wide texts: no window, file, registry or
// shell access, so that tests can call them directly. Every function that
// writes takes the capacity of its output in characters, terminator included,
// and never writes beyond it. Length and plain copies come from
// support/WideText.h.
#pragma once

#include <cstddef>

#include "platform/Win32.h"

// Longest package caption, in characters: the longest base name of a file.
constexpr size_t CAPTION_MAX_LENGTH = 255;

// Appends src behind the text in dest when the whole of it fits together
// with the terminator, and returns true; otherwise dest is left unchanged
// and the result is false.
bool AppendText(WCHAR *dest, size_t capacity, const WCHAR *src);

// The caption of the package whose full path is given: its last component
// (after the last "\", "/" or drive colon) without the extension, which runs
// from the last dot of that component. Data1.part.exe gives Data1.part. The
// result is cut to CAPTION_MAX_LENGTH characters and to capacity - 1.
void PackageCaption(const WCHAR *path, WCHAR *out, size_t capacity);

// When the second character of folder is ":", upper-cases the first one if
// it is an ASCII letter a to z. Nothing else of the text changes.
void UpperCaseDriveLetter(WCHAR *folder);

// Makes the registry data in buffer a text of the buffer: stores a
// terminator in its last character, so a value that filled the whole
// buffer without one is cut to capacity - 1 characters.
void TerminateWithin(WCHAR *buffer, size_t capacity);

// The proposed folder when the Documents folder is the source: documents
// followed by "\Tessaly", without doubling a separator that documents ends
// in. An empty documents text gives "\Tessaly" alone. A result that does not
// fit into capacity gives the empty text.
void DocumentsProposal(const WCHAR *documents, WCHAR *out, size_t capacity);

// Removes one trailing backslash from a proposed folder longer than three
// characters, so "D:\Setup\" becomes "D:\Setup" while the drive root "D:\"
// stays as it is.
void StripProposalBackslash(WCHAR *folder);

// True when the text's last character is "\" or "/": such a folder text is
// the target itself. The empty text has no last character: false.
bool EndsInSeparator(const WCHAR *text);

// Composes the target from a folder text that does not end in a separator:
// appends "\", caption and "\" and returns true when that fits into
// capacity; otherwise target is left unchanged and the result is false.
bool AppendSubfolder(WCHAR *target, size_t capacity, const WCHAR *caption);

// The folder that contains path, as folder creation climbs to it: the drive
// (a letter and a colon) and the directory part up to and including the
// last "\" or "/" of path, less one trailing backslash. "C:\a\b\" gives
// "C:\a\b", "C:\a\b" gives "C:\a", "C:\a" gives "C:", and "C:\a/" gives
// itself, "C:\a/" (the caller must stop there). The parent is never longer
// than path. Returns false, leaving out empty, when it does not fit.
bool ParentFolder(const WCHAR *path, WCHAR *out, size_t capacity);
