// The extractor as the selfex tool drives it.
#include "tools/ToolExtract.h"

#include <zlib.h>

#include <cerrno>

#include "tools/ErrorText.h"
#include "tools/Interrupt.h"
#include "tools/SetMemberName.h"

namespace Selfex {

CToolExtract::~CToolExtract() = default;

void CToolExtract::SetFirstCabinet(const WideString &presentedPath, const std::string &realPath)
{
    m_FirstPresented = presentedPath;
    m_FirstReal = realPath;
    m_Folder = presentedPath.substr(0, presentedPath.rfind(WIDE('\\')) + 1);
    m_FirstName = realPath.substr(realPath.find_last_of("/\\") + 1);
    m_LastCabinet = m_FirstName;
}

int32_t CToolExtract::Refuse(const std::string &reason)
{
    // The first refusal is the cause; what fails after it is its consequence.
    if (m_Refusal.empty()) {
        m_Refusal = reason;
    }
    errno = EINVAL;
    return -1;
}

void CToolExtract::RecordSystemFailure(const char *operation, const std::string &path, int error)
{
    if (m_SystemFailure.Operation.empty()) {
        m_SystemFailure = {operation, path, error};
    }
}

std::string CToolExtract::OutputPathOf(int32_t handle) const
{
    const auto path = m_OutputPaths.find(handle);
    return path != m_OutputPaths.end() ? path->second : std::string();
}

int32_t CToolExtract::RawOpen(const WCHAR *path, int flags, int permission)
{
    if (IsInterrupted()) {
        return Refuse(InterruptText());
    }
    if ((flags & (_O_CREAT | _O_WRONLY | _O_RDWR)) == 0) {
        return OpenCabinet(WideString(path));
    }
    if (VirtualOutputs()) {
        const int32_t handle = m_NextVirtualHandle++;
        if (m_NextVirtualHandle == INT32_MAX) {
            m_NextVirtualHandle = FIRST_VIRTUAL_HANDLE;
        }
        m_OutputPaths[handle] = FromPlatformPath(path);
        m_Outputs[handle] = ChecksumOutput();
        return handle;
    }
    errno = 0;
    const int32_t handle = CExtract::RawOpen(path, flags, permission);
    if (handle == -1) {
        RecordSystemFailure("create", FromPlatformPath(path), errno);
        return handle;
    }
    m_OutputPaths[handle] = FromPlatformPath(path);
    if (m_ChecksumOnly) {
        m_Outputs[handle] = ChecksumOutput();
    }
    return handle;
}

// Every read open is a cabinet: the first one by the path the tool gave,
// the others by "<folder><name>" with a name from a cabinet header.
int32_t CToolExtract::OpenCabinet(const WideString &path)
{
    const bool first = path == m_FirstPresented;
    std::string realPath = m_FirstReal;
    std::string member;
    if (!first) {
        if (path.compare(0, m_Folder.size(), m_Folder) != 0) {
            return Refuse("the decompressor asked for a cabinet outside the set's folder: " +
                          FromPlatformPath(path.c_str()));
        }
        const WideString name = path.substr(m_Folder.size());
        member = WideToUtf8(name.c_str());
        const std::string refusal = MemberNameRefusal(name);
        if (!refusal.empty()) {
            return Refuse(refusal);
        }
        realPath = FromPlatformPath(path.c_str());
    }
    auto view = std::make_unique<CCabinetView>();
    std::string problem;
    if (!view->Open(realPath, problem)) {
        if (first) {
            return Refuse(problem);
        }
        const std::string folder = FromPlatformPath(m_Folder.c_str());
        if (!view->Exists()) {
            return Refuse("next cabinet \"" + member + "\" (named in " + m_LastCabinet + ") not found in " +
                          (folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder));
        }
        return Refuse("next cabinet \"" + member + "\" (named in " + m_LastCabinet + "): " + problem);
    }
    if (first) {
        m_FirstIsBare = view->IsBare();
    }
    const int32_t handle = view->Handle();
    m_Views[handle] = std::move(view);
    m_LastCabinet = first ? m_FirstName : member;
    return handle;
}

std::string CToolExtract::MemberNameRefusal(const WideString &name) const
{
    const std::string problem = SetMemberNameProblem(name);
    if (problem.empty()) {
        return problem;
    }
    return "the cabinet set continues with \"" + WideToUtf8(name.c_str()) + "\" (named in " + m_LastCabinet +
           "), which " + problem + "; set members must be plain file names";
}

void CToolExtract::CheckNextCabinet(const char *nameUtf8)
{
    if (nameUtf8 == nullptr || nameUtf8[0] == 0) {
        return;
    }
    const std::string refusal = MemberNameRefusal(Utf8ToWide(nameUtf8));
    if (!refusal.empty()) {
        Refuse(refusal);
        Abort();
    }
}

int32_t CToolExtract::RawRead(int32_t handle, void *buffer, uint32_t count)
{
    if (IsInterrupted()) {
        return Refuse(InterruptText());
    }
    const auto view = m_Views.find(handle);
    return view != m_Views.end() ? view->second->Read(buffer, count) : CExtract::RawRead(handle, buffer, count);
}

int32_t CToolExtract::RawWrite(int32_t handle, const void *buffer, uint32_t count)
{
    if (IsInterrupted()) {
        return Refuse(InterruptText());
    }
    const auto output = m_Outputs.find(handle);
    if (output == m_Outputs.end()) {
        errno = 0;
        const int32_t written = CExtract::RawWrite(handle, buffer, count);
        if (written != static_cast<int32_t>(count) && m_OutputPaths.count(handle) != 0) {
            // A write that falls short without an error: the device is full.
            RecordSystemFailure("write", OutputPathOf(handle), written < 0 ? errno : ENOSPC);
        }
        return written;
    }
    // More bytes than stored would also fail at the close; stop at once instead.
    ChecksumOutput &sum = output->second;
    if (handle == Current().Handle && sum.Size + count > Current().Size) {
        return Refuse(WideToUtf8(Current().RelPath.Data) + ": the decoder delivered more than its stored " +
                      std::to_string(Current().Size) + " bytes");
    }
    if (m_CrcWanted) {
        sum.Crc = static_cast<uint32_t>(crc32(sum.Crc, static_cast<const Bytef *>(buffer), count));
    }
    sum.Size += count;
    if (m_StreamOut != nullptr) {
        errno = 0;
        m_StreamOut->write(static_cast<const char *>(buffer), static_cast<std::streamsize>(count));
        if (!m_StreamOut->good()) {
            return Refuse("cannot write to standard output: " + SystemErrorText(errno != 0 ? errno : EIO));
        }
    }
    return static_cast<int32_t>(count);
}

int32_t CToolExtract::RawClose(int32_t handle)
{
    const auto view = m_Views.find(handle);
    if (view != m_Views.end()) {
        const int32_t result = view->second->Close();
        m_Views.erase(view);
        return result;
    }
    const auto output = m_Outputs.find(handle);
    if (output != m_Outputs.end()) {
        m_LastOutputSize = static_cast<uint32_t>(output->second.Size);
        m_LastOutputCrc = output->second.Crc;
        // The extractor hands a complete file over before closing it; one
        // that is still current here is unfinished.
        if (handle == Current().Handle && output->second.Size < Current().Size) {
            m_ShortOutput = "only " + std::to_string(output->second.Size) + " of its " +
                            std::to_string(Current().Size) + " stored bytes were decoded";
        }
        m_Outputs.erase(output);
        if (handle >= FIRST_VIRTUAL_HANDLE) {
            m_OutputPaths.erase(handle);
            return 0;
        }
    }
    const std::string path = OutputPathOf(handle);
    m_OutputPaths.erase(handle);
    errno = 0;
    const int32_t closed = CExtract::RawClose(handle);
    if (closed != 0 && !path.empty()) {
        RecordSystemFailure("close", path, errno);
    }
    return closed;
}

int32_t CToolExtract::RawSeek(int32_t handle, int32_t offset, int origin)
{
    const auto view = m_Views.find(handle);
    return view != m_Views.end() ? view->second->Seek(offset, origin) : CExtract::RawSeek(handle, offset, origin);
}

} // namespace Selfex
