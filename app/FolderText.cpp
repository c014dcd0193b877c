// Text rules of the stub's front end (see FolderText.h).
#include "app/FolderText.h"

#include "support/WideText.h"

namespace {

bool IsSeparator(WCHAR c)
{
    return c == WIDE('\\') || c == WIDE('/');
}

// Length of the drive part of path: 2 when it starts with a letter and a
// colon (or any character and a colon, as the runtime's path splitter
// takes it), else 0.
size_t DriveLength(const WCHAR *path)
{
    return (path[0] != 0 && path[1] == WIDE(':')) ? 2 : 0;
}

// Copies count characters of src into dest and terminates; the caller has
// checked that count < capacity.
void CopyPrefix(WCHAR *dest, const WCHAR *src, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        dest[i] = src[i];
    }
    dest[count] = 0;
}

} // namespace

bool AppendText(WCHAR *dest, size_t capacity, const WCHAR *src)
{
    size_t used = WideLength(dest);
    size_t extra = WideLength(src);
    if (used + extra >= capacity) {
        return false;
    }
    CopyPrefix(dest + used, src, extra);
    return true;
}

void PackageCaption(const WCHAR *path, WCHAR *out, size_t capacity)
{
    // The name starts behind the last separator or behind the drive colon.
    size_t start = DriveLength(path);
    size_t length = WideLength(path);
    for (size_t i = start; i < length; ++i) {
        if (IsSeparator(path[i])) {
            start = i + 1;
        }
    }
    // The extension runs from the last dot of the name.
    size_t end = length;
    for (size_t i = start; i < length; ++i) {
        if (path[i] == WIDE('.')) {
            end = i;
        }
    }
    size_t count = end - start;
    if (count > CAPTION_MAX_LENGTH) {
        count = CAPTION_MAX_LENGTH;
    }
    if (capacity == 0) {
        return;
    }
    if (count >= capacity) {
        count = capacity - 1;
    }
    CopyPrefix(out, path + start, count);
}

void UpperCaseDriveLetter(WCHAR *folder)
{
    if (folder[0] == 0 || folder[1] != WIDE(':')) {
        return;
    }
    if (folder[0] >= WIDE('a') && folder[0] <= WIDE('z')) {
        folder[0] = static_cast<WCHAR>(folder[0] - WIDE('a') + WIDE('A'));
    }
}

void TerminateWithin(WCHAR *buffer, size_t capacity)
{
    if (capacity != 0) {
        buffer[capacity - 1] = 0;
    }
}

void DocumentsProposal(const WCHAR *documents, WCHAR *out, size_t capacity)
{
    if (capacity == 0) {
        return;
    }
    out[0] = 0;
    // A Documents folder at a drive root ("D:\") already ends in the
    // separator (and Wine reports every shell folder so).
    const WCHAR *subfolder = EndsInSeparator(documents) ? WIDE("Tessaly") : WIDE("\\Tessaly");
    if (!AppendText(out, capacity, documents) || !AppendText(out, capacity, subfolder)) {
        out[0] = 0;
    }
}

void StripProposalBackslash(WCHAR *folder)
{
    size_t length = WideLength(folder);
    if (length > 3 && folder[length - 1] == WIDE('\\')) {
        folder[length - 1] = 0;
    }
}

bool EndsInSeparator(const WCHAR *text)
{
    size_t length = WideLength(text);
    return length != 0 && IsSeparator(text[length - 1]);
}

bool AppendSubfolder(WCHAR *target, size_t capacity, const WCHAR *caption)
{
    size_t used = WideLength(target);
    size_t name = WideLength(caption);
    if (used + name + 2 >= capacity) {
        return false;
    }
    AppendText(target, capacity, WIDE("\\"));
    AppendText(target, capacity, caption);
    AppendText(target, capacity, WIDE("\\"));
    return true;
}

bool ParentFolder(const WCHAR *path, WCHAR *out, size_t capacity)
{
    if (capacity == 0) {
        return false;
    }
    out[0] = 0;
    // Drive and directory are contiguous from the start of the path, so the
    // parent is the path up to its last separator (or its drive alone).
    size_t end = DriveLength(path);
    size_t length = WideLength(path);
    for (size_t i = end; i < length; ++i) {
        if (IsSeparator(path[i])) {
            end = i + 1;
        }
    }
    if (end >= capacity) {
        return false;
    }
    CopyPrefix(out, path, end);
    if (end != 0 && out[end - 1] == WIDE('\\')) {
        out[end - 1] = 0;
    }
    return true;
}
