// An FDI client for tests.
#include "tests/fdi/FdiTestClient.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include "fdi/FdiReason.h"
extern "C" const char *SelfexFdiReason(void *hfdi);
#endif

namespace FdiTest {

namespace {

// The client whose callbacks FDI is calling (see the header).
CFdiTestClient *g_Client = nullptr;

constexpr int SEEK_ORIGIN_END = 2;

} // namespace

CFdiTestClient::CFdiTestClient()
{
    g_Client = this;
    m_User = this;
}

CFdiTestClient::~CFdiTestClient()
{
    Destroy();
    for (auto &block : m_Blocks) {
        std::free(block.first);
    }
    if (g_Client == this) {
        g_Client = nullptr;
    }
}

bool CFdiTestClient::EnsureContext()
{
    if (m_Context == nullptr) {
        m_Context = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &m_Erf);
    }
    return m_Context != nullptr;
}

bool CFdiTestClient::Copy(const std::string &cabinet, const std::string &directory)
{
    g_Client = this;
    if (!EnsureContext()) {
        return false;
    }
    std::vector<char> name(cabinet.begin(), cabinet.end());
    std::vector<char> path(directory.begin(), directory.end());
    name.push_back('\0');
    path.push_back('\0');
    return FDICopy(m_Context, name.data(), path.data(), 0, Notify, nullptr, m_User) != 0;
}

std::string CFdiTestClient::Reason() const
{
#if defined(_WIN32)
    return std::string();
#else
    const char *reason = SelfexFdiReason(m_Context);
    return reason != nullptr ? reason : "";
#endif
}

bool CFdiTestClient::IsCabinet(const std::string &path, FDICABINETINFO *info, int64_t position)
{
    g_Client = this;
    if (!EnsureContext()) {
        return false;
    }
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    intptr_t handle = Open(name.data(), 0x8020, 0x100);
    if (handle == -1) {
        return false;
    }
    m_Open[handle].Position = position;
    bool result = FDIIsCabinet(m_Context, handle, info) != 0;
    m_Open.erase(handle);
    return result;
}

bool CFdiTestClient::Destroy()
{
    if (m_Context == nullptr) {
        return false;
    }
    g_Client = this;
    bool result = FDIDestroy(m_Context) != 0;
    m_Context = nullptr;
    return result;
}

std::vector<FDINOTIFICATIONTYPE> CFdiTestClient::NoteTypes() const
{
    std::vector<FDINOTIFICATIONTYPE> types;
    for (const Note &note : m_Notes) {
        types.push_back(note.Type);
    }
    return types;
}

const Output *CFdiTestClient::FindOutput(const std::string &name) const
{
    const Output *found = nullptr;
    for (const Output &output : m_Outputs) {
        if (output.Name == name) {
            found = &output;
        }
    }
    return found;
}

void CFdiTestClient::ClearRecords()
{
    m_Notes.clear();
    m_Outputs.clear();
    m_OutputHandles.clear();
    m_Io.clear();
    m_Reads = m_Writes = 0;
}

intptr_t CFdiTestClient::DefaultAnswer(FDINOTIFICATIONTYPE type, FDINOTIFICATION *note)
{
    switch (type) {
    case fdintCOPY_FILE: {
        std::string name = note->psz1 ? note->psz1 : "";
        if (Want && !Want(name)) {
            return 0;
        }
        if (m_NextOutputHandle == 0) {
            m_NextOutputHandle = FirstOutputHandle;
        }
        intptr_t handle = m_NextOutputHandle++;
        Output output;
        output.Name = name;
        m_OutputHandles[handle] = m_Outputs.size();
        m_Outputs.push_back(output);
        return handle;
    }
    case fdintCLOSE_FILE_INFO: {
        // The client closes the handle it gave out.
        auto found = m_OutputHandles.find(note->hf);
        if (found != m_OutputHandles.end()) {
            m_Outputs[found->second].CloseInfo = true;
            m_OutputHandles.erase(found);
        }
        return 1;
    }
    default: return 0;
    }
}

FNALLOC(CFdiTestClient::Alloc)
{
    CFdiTestClient *client = g_Client;
    ++client->m_TotalAllocations;
    if (client->FailAllocation != 0 && client->m_TotalAllocations == client->FailAllocation) {
        return nullptr;
    }
    void *block = std::malloc(cb ? cb : 1);
    if (block) {
        // Fresh blocks are filled with junk so that reads of memory FDI did
        // not write show up as wrong results.
        std::memset(block, 0xA5, cb);
        client->m_Blocks[block] = uint32_t(cb);
        ++client->m_LiveAllocations;
    }
    return block;
}

FNFREE(CFdiTestClient::Free)
{
    CFdiTestClient *client = g_Client;
    if (pv == nullptr) {
        return;
    }
    auto found = client->m_Blocks.find(pv);
    if (found == client->m_Blocks.end()) {
        ++client->m_StrayFrees; // not ours to free: left alone
        return;
    }
    client->m_Blocks.erase(found);
    --client->m_LiveAllocations;
    std::free(pv);
}

FNOPEN(CFdiTestClient::Open)
{
    CFdiTestClient *client = g_Client;
    std::string path = pszFile ? pszFile : "";
    IoCall call{'o', -1, oflag, pmode, 0, 0, path};
    if (client->m_Files.count(path) == 0) {
        client->m_Io.push_back(call);
        return -1;
    }
    if (client->m_NextCabinetHandle == 0) {
        client->m_NextCabinetHandle = client->FirstCabinetHandle;
    }
    intptr_t handle = client->m_NextCabinetHandle++;
    client->m_Open[handle] = OpenFile{path, 0, client->m_Bases[path]};
    call.Handle = handle;
    client->m_Io.push_back(call);
    return handle;
}

FNREAD(CFdiTestClient::Read)
{
    CFdiTestClient *client = g_Client;
    auto found = client->m_Open.find(hf);
    IoCall call{'r', hf, cb, 0, 0, found == client->m_Open.end() ? -1 : found->second.Position, {}};
    uint32_t result = uint32_t(-1);
    if (++client->m_Reads == client->FailRead) {
        result = client->ReadFailResult;
    } else if (found != client->m_Open.end()) {
        const std::vector<uint8_t> &bytes = client->m_Files[found->second.Path];
        int64_t position = found->second.Base + found->second.Position;
        int64_t available = position < int64_t(bytes.size()) ? int64_t(bytes.size()) - position : 0;
        result = uint32_t(available < int64_t(cb) ? available : int64_t(cb));
        if (result > 0) {
            std::memcpy(pv, bytes.data() + position, result);
        }
        found->second.Position += result;
    }
    call.Result = int32_t(result);
    client->m_Io.push_back(call);
    return result;
}

FNWRITE(CFdiTestClient::Write)
{
    CFdiTestClient *client = g_Client;
    IoCall call{'w', hf, cb, 0, 0, 0, {}};
    auto found = client->m_OutputHandles.find(hf);
    uint32_t result = uint32_t(-1);
    if (++client->m_Writes == client->FailWrite) {
        result = client->WriteFailResult;
    } else if (found != client->m_OutputHandles.end()) {
        Output &output = client->m_Outputs[found->second];
        const uint8_t *bytes = static_cast<const uint8_t *>(pv);
        output.Data.insert(output.Data.end(), bytes, bytes + cb);
        ++output.Writes;
        output.LargestWrite = cb > output.LargestWrite ? uint32_t(cb) : output.LargestWrite;
        result = cb;
    }
    call.Result = int32_t(result);
    client->m_Io.push_back(call);
    return result;
}

FNCLOSE(CFdiTestClient::Close)
{
    CFdiTestClient *client = g_Client;
    client->m_Io.push_back(IoCall{'c', hf, 0, 0, 0, 0, {}});
    if (client->m_Open.erase(hf) == 1) {
        return 0;
    }
    auto found = client->m_OutputHandles.find(hf);
    if (found != client->m_OutputHandles.end()) {
        client->m_Outputs[found->second].ClosedByFdi = true;
        client->m_OutputHandles.erase(found);
        return 0;
    }
    ++client->m_StrayCloses;
    return -1;
}

FNSEEK(CFdiTestClient::Seek)
{
    CFdiTestClient *client = g_Client;
    auto found = client->m_Open.find(hf);
    IoCall call{'s', hf, dist, seektype, 0, found == client->m_Open.end() ? -1 : found->second.Position, {}};
    int32_t result = -1;
    if (found != client->m_Open.end()) {
        int64_t size = int64_t(client->m_Files[found->second.Path].size()) - found->second.Base;
        int64_t base = seektype == SEEK_SET ? 0 : seektype == SEEK_CUR ? found->second.Position : size;
        if (seektype == SEEK_ORIGIN_END) {
            std::fprintf(stderr, "FDI seeked from the end\n");
        }
        int64_t target = base + dist;
        if (target >= 0 && target <= 0x7FFFFFFF) {
            found->second.Position = target;
            result = int32_t(target);
        }
    }
    call.Result = result;
    client->m_Io.push_back(call);
    return result;
}

FNFDINOTIFY(CFdiTestClient::Notify)
{
    CFdiTestClient *client = g_Client;
    Note note;
    note.Type = fdint;
    note.Cb = pfdin->cb;
    note.HasPsz1 = pfdin->psz1 != nullptr;
    note.HasPsz2 = pfdin->psz2 != nullptr;
    note.HasPsz3 = pfdin->psz3 != nullptr;
    note.Psz1 = note.HasPsz1 ? pfdin->psz1 : "";
    note.Psz2 = note.HasPsz2 ? pfdin->psz2 : "";
    note.Psz3 = note.HasPsz3 ? pfdin->psz3 : "";
    note.Hf = pfdin->hf;
    note.Date = pfdin->date;
    note.Time = pfdin->time;
    note.Attribs = pfdin->attribs;
    note.SetId = pfdin->setID;
    note.ICabinet = pfdin->iCabinet;
    note.IFolder = pfdin->iFolder;
    note.Fdie = int(pfdin->fdie);
    note.PvMatched = pfdin->pv == client->m_User;
    client->m_Notes.push_back(note);
    if (client->AbortAtNote != 0 && int(client->m_Notes.size()) == client->AbortAtNote) {
        return -1;
    }
    intptr_t answer = client->DefaultAnswer(fdint, pfdin);
    if (client->OnNote) {
        answer = client->OnNote(fdint, pfdin, answer);
    }
    return answer;
}

std::map<std::string, std::vector<uint8_t>> OutputsByName(const CFdiTestClient &client)
{
    std::map<std::string, std::vector<uint8_t>> result;
    for (const Output &output : client.Outputs()) {
        result[output.Name] = output.Data;
    }
    return result;
}

} // namespace FdiTest
