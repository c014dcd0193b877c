// Helpers on backslash-separated wide paths.
#include "support/PathUtil.h"

#include <cassert>

#include "support/WideText.h"

BOOL IsDirectory(LPCWSTR path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return 0;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
}

void AppendBackslash(CStrBufW &path)
{
    const uint32_t length = path.Length();
    if (length > 1 && path.Data[length - 1] != u'\\') {
        path.Append(WIDE("\\"));
    }
}

void StripBackslash(WCHAR *text)
{
    const size_t length = WideLength(text);
    if (length >= 2 && text[length - 1] == u'\\') {
        text[length - 1] = 0;
    }
}

void SplitPath(const CStrBufW &path, CStrBufW *directory, CStrBufW *name)
{
    assert(directory != &path && name != &path && "SplitPath writes into other buffers than the path");
    // The length is verified even where a backslash is found, so that a path
    // that lost its terminator is never scanned beyond its block.
    const uint32_t length = path.Length();
    uint32_t separator = length;
    for (uint32_t i = 0; i < length; ++i) {
        if (path.Data[i] == u'\\') {
            separator = i;
        }
    }

    if (separator == length) {
        if (directory != nullptr) {
            directory->Data[0] = 0;
        }
        if (name != nullptr) {
            name->Assign(path);
        }
        return;
    }
    if (name != nullptr) {
        name->Assign(path.Data + separator + 1);
    }
    if (directory != nullptr) {
        directory->Assign(path.Data, separator + 1);
    }
}
