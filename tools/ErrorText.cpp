// Words for the extractor's failures.
#include "tools/ErrorText.h"

#include <cerrno>
#include <cstring>

#include "tools/InstallLayout.h"

namespace Selfex {

namespace {

// The decompressor's own numbers (FDIERROR), which also appear in Code.
const char *DescribeFdiError(int32_t code)
{
    switch (code) {
    case 1: return "a cabinet could not be opened";
    case 2: return "no cabinet found (no \"MSCF\" header where a package keeps its cabinet)";
    case 3: return "the cabinet has a version this decompressor does not know";
    case 4: return "the cabinet is corrupt or truncated";
    case 5: return "the decompressor ran out of memory";
    case 6: return "the cabinet uses an unknown compression method";
    case 7: return "the compressed data is corrupt";
    case 8: return "an output file could not be written";
    case 9: return "the cabinets of the set disagree about their reserved areas";
    case 10: return "the next cabinet of the set is not the expected one";
    case 11: return "the extraction was stopped";
    case 12: return "the cabinet ends before its data does";
    default: return nullptr;
    }
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

// An output file that failed: at the system (the tool saw the errno), at
// its folder (Detail), or for a reason the extractor alone knows.
std::string DescribeOutputFailure(int32_t detail, const FailureScene &scene)
{
    const std::string where = scene.OutputPath.empty() ? std::string("an output file") : Quoted(scene.OutputPath);
    if (detail == ERROR_INVALID_NAME && !scene.RefusedName.empty()) {
        return "the stored name " + Quoted(scene.RefusedName) + " is refused: " + scene.RefusedWhy;
    }
    if (detail == ERROR_INVALID_NAME) {
        return "a stored name is unsafe (absolute, with a drive or stream colon, an empty, \".\" or \"..\" level, a "
               "device name, a character or ending Windows refuses, invalid UTF-8, too long, or an earlier file's "
               "name in other letter case) and was refused";
    }
    if (detail == Cabinet::DETAIL_REPARSE_POINT && !scene.LinkPath.empty()) {
        return (scene.LinkPath == scene.OutputPath ? where + " is"
                                                   : where + " is reached through " + Quoted(scene.LinkPath) + ",") +
               " a symbolic link or junction; nothing is written through a link";
    }
    if (detail == Cabinet::DETAIL_REPARSE_POINT) {
        return where + " is, or is reached through, a symbolic link or junction; nothing is written through a link";
    }
    if (detail == Cabinet::DETAIL_NOT_A_FILE) {
        return where + " is a FIFO, socket or device; only regular files are written";
    }
    if (detail != 0) {
        return "cannot create the folder for " + where + ": " + DescribeWindowsError(detail);
    }
    if (!scene.Operation.empty()) {
        return "cannot " + scene.Operation + " " + where + ": " + SystemErrorText(scene.SystemError);
    }
    return "cannot create " + where + ", or it did not receive all its bytes";
}

std::string DescribeCode(int32_t code, int32_t detail, const FailureScene &scene)
{
    switch (code) {
    case 0: return detail == ERROR_OUTOFMEMORY ? "no thread slot left for the extractor" : std::string();
    case FDIERROR_TARGET_FILE: return DescribeOutputFailure(detail, scene);
    case Cabinet::ERR_CABINET_DLL:
        return "the cabinet decompressor (Cabinet.dll, on Linux libcabinet.so) could not be loaded; " +
               DecoderLibrarySearchText();
    case Cabinet::ERR_BAD_PATH: return "the cabinet's path has no usable folder or file name";
    case Cabinet::ERR_ENCIPHERED: return "the cabinet is enciphered (header \"CRYP\"), which is not supported";
    case Cabinet::ERR_MEMORY_FULL: return "a file delivered more bytes than its stored size";
    case Cabinet::ERR_WRONG_THREAD: return "the extractor was used from a thread other than its own";
    case Cabinet::ERR_THREAD_BUSY: return "this thread already runs an extractor";
    case Cabinet::ERR_CABINET_LOOP: return "the cabinet set leads back to a cabinet it already passed";
    case Cabinet::ERR_OUT_OF_MEMORY:
        return scene.StoredName.empty() ? std::string("out of memory")
                                        : "out of memory while decoding " + Quoted(scene.StoredName);
    case Cabinet::ERR_BAD_SET_MEMBER:
        if (!scene.RefusedName.empty()) {
            return "the cabinet set continues with " + Quoted(scene.RefusedName) +
                   ", which is no plain file name: " + scene.RefusedWhy;
        }
        return "a cabinet header names a next or previous cabinet that is no plain file name; it was not opened";
    default: {
        const char *words = DescribeFdiError(code);
        return words ? words : "unknown failure";
    }
    }
}

} // namespace

std::string SystemErrorText(int code)
{
    // The C runtimes word these differently, and some not at all.
    switch (code) {
    case ENOSPC: return "No space left on device";
    case EACCES: return "Permission denied";
    case EPERM: return "Operation not permitted";
    case ENOENT: return "No such file or directory";
    case EROFS: return "Read-only file system";
    case EEXIST: return "File exists";
    case EISDIR: return "Is a directory";
    case ENOTDIR: return "Not a directory";
    case ENAMETOOLONG: return "File name too long";
    case ENOMEM: return "Out of memory";
    case EMFILE: return "Too many open files";
    case EIO: return "Input/output error";
    case EFBIG: return "File too large";
    case EINVAL: return "Invalid argument";
    case EBUSY: return "Device or resource busy";
    case EPIPE: return "Broken pipe";
    case 0: return "unknown reason";
    default: return std::strerror(code);
    }
}

std::string ErrorCodeText(const std::error_code &code)
{
    const std::error_condition condition = code.default_error_condition();
    return condition.category() == std::generic_category() ? SystemErrorText(condition.value()) : code.message();
}

std::string DescribeWindowsError(int32_t code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return SystemErrorText(ENOENT);
    case ERROR_ACCESS_DENIED: return SystemErrorText(EACCES);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return SystemErrorText(ENOMEM);
    case ERROR_INVALID_DRIVE: return "No such drive";
    case ERROR_WRITE_PROTECT: return SystemErrorText(EROFS);
    case ERROR_SHARING_VIOLATION: return "The file is in use by another program";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return SystemErrorText(EEXIST);
    case ERROR_DISK_FULL: return SystemErrorText(ENOSPC);
    case ERROR_INVALID_NAME: return "Invalid name";
    case ERROR_FILENAME_EXCED_RANGE: return SystemErrorText(ENAMETOOLONG);
    default: return "Windows error " + std::to_string(code);
    }
}

std::string DescribeExtractError(const Cabinet::ExtractError &error, const FailureScene &scene)
{
    // A file cut short (Code 8, Detail 0) while the decompressor reports a
    // failure of its own is that failure's consequence: Wine's FDI closes the
    // output file normally after bad data, and the extractor then records
    // the short file. The decompressor's reason is the one to tell.
    bool shortFileAfterFdiError = error.Code == FDIERROR_TARGET_FILE && error.Detail == 0 && error.Erf.fError &&
                                  error.Erf.erfOper != FDIERROR_NONE && error.Erf.erfOper != FDIERROR_TARGET_FILE &&
                                  error.Erf.erfOper != FDIERROR_USER_ABORT && scene.Operation.empty();
    std::string words;
    if ((error.Code != 0 || error.Detail != 0) && !shortFileAfterFdiError) {
        words = DescribeCode(error.Code, error.Detail, scene);
    }
    // A write the decompressor saw fail: the tool knows the output and why.
    if (words.empty() && error.Erf.fError && error.Erf.erfOper == FDIERROR_TARGET_FILE) {
        words = DescribeOutputFailure(0, scene);
    }
    if (words.empty() && error.Erf.fError) {
        const char *fdi = DescribeFdiError(error.Erf.erfOper);
        words = fdi ? fdi : "the decompressor failed";
        // The decoder's own words on what was wrong with the data; where the
        // tool described the failure itself, they would only repeat it.
        const std::string reason = Cabinet::ReasonText(error);
        if (!reason.empty()) {
            words += ": " + reason;
        }
    }
    if (words.empty()) {
        words = "the extraction failed";
    }
    words += " (code " + std::to_string(error.Code) + ", detail " + std::to_string(error.Detail);
    if (error.Erf.fError) {
        words += "; FDI error " + std::to_string(error.Erf.erfOper) + ", type " + std::to_string(error.Erf.erfType);
    }
    return words + ")";
}

} // namespace Selfex
