// Parsing of CFHEADER, CFFOLDER and CFFILE.
#include "fdi/CabParser.h"

#include <cstring>

#include "fdi/Reason.h"

namespace Fdi {

namespace {

// A name field: terminated within CAB_NAME_MAX + 1 bytes of what was read.
Fault ReadName(CCabStream &stream, char *out)
{
    uint32_t length = 0;
    Fault fault = stream.ReadString(out, CAB_NAME_MAX, &length);
    return fault == Fault::None ? Fault::None : Fail(Fault::Corrupt, "a set member name is cut or too long");
}

// Table reads running into the end of the cabinet are format errors.
Fault TableFault(Fault fault)
{
    return fault == Fault::EndOfFile ? Fail(Fault::Corrupt, "the cabinet ends inside its tables") : fault;
}

} // namespace

Fault ReadHeader(CCabStream &stream, CabHeader *header, uint16_t *version)
{
    uint8_t raw[CFHEADER_SIZE];
    if (stream.Read(raw, CFHEADER_SIZE) != Fault::None) {
        return Fail(Fault::NotACabinet, "shorter than a cabinet header");
    }
    if (std::memcmp(raw + CFHEADER_SIGNATURE, CAB_SIGNATURE, sizeof CAB_SIGNATURE) != 0) {
        return Fail(Fault::NotACabinet, "no \"MSCF\" signature");
    }
    std::memset(header, 0, sizeof(*header));
    header->CbCabinet = Le32(raw + CFHEADER_CB_CABINET);
    header->CoffFiles = Le32(raw + CFHEADER_COFF_FILES);
    header->Version = uint16_t(raw[CFHEADER_VERSION_MAJOR] << 8 | raw[CFHEADER_VERSION_MINOR]);
    header->CFolders = Le16(raw + CFHEADER_C_FOLDERS);
    header->CFiles = Le16(raw + CFHEADER_C_FILES);
    header->Flags = Le16(raw + CFHEADER_FLAGS);
    header->SetId = Le16(raw + CFHEADER_SET_ID);
    header->ICabinet = Le16(raw + CFHEADER_I_CABINET);
    if (header->Version > CAB_VERSION_MAX) {
        *version = header->Version;
        return Fail(Fault::UnknownVersion, "a cabinet version above 1.3");
    }
    if (header->HasReserve()) {
        uint8_t sizes[CFHEADER_RESERVE_SIZES];
        Fault fault = stream.Read(sizes, sizeof(sizes));
        if (fault != Fault::None) {
            return TableFault(fault);
        }
        header->HeaderReserve = Le16(sizes);
        header->FolderReserve = sizes[2];
        header->DataReserve = sizes[3];
        // The header reserve is opaque (signatures and the like): skipped.
        fault = stream.Skip(header->HeaderReserve);
        if (fault != Fault::None) {
            return TableFault(fault);
        }
    }
    Fault fault = Fault::None;
    if (header->HasPrev() && ((fault = ReadName(stream, header->PrevCabinet)) != Fault::None ||
                              (fault = ReadName(stream, header->PrevDisk)) != Fault::None)) {
        return fault;
    }
    if (header->HasNext() && ((fault = ReadName(stream, header->NextCabinet)) != Fault::None ||
                              (fault = ReadName(stream, header->NextDisk)) != Fault::None)) {
        return fault;
    }
    return Fault::None;
}

Fault ReadFolders(CCabStream &stream, const CabHeader &header, FolderEntry *folders)
{
    for (uint32_t i = 0; i < header.CFolders; ++i) {
        uint8_t raw[CFFOLDER_SIZE];
        Fault fault = stream.Read(raw, CFFOLDER_SIZE);
        if (fault == Fault::None) {
            fault = stream.Skip(header.FolderReserve);
        }
        if (fault != Fault::None) {
            return TableFault(fault);
        }
        folders[i].CoffCabStart = Le32(raw + CFFOLDER_COFF_CAB_START);
        folders[i].CCFData = Le16(raw + CFFOLDER_C_CF_DATA);
        folders[i].TypeCompress = Le16(raw + CFFOLDER_TYPE_COMPRESS);
    }
    return Fault::None;
}

Fault ReadFiles(CCabStream &stream, const CabHeader &header, IFileVisitor &visitor)
{
    if (header.CFiles > 0 && stream.Position() != header.CoffFiles) {
        return Fail(Fault::Corrupt, "coffFiles does not point behind the folder table");
    }
    char name[CAB_NAME_MAX + 1];
    for (uint32_t i = 0; i < header.CFiles; ++i) {
        uint8_t raw[CFFILE_SIZE];
        Fault fault = stream.Read(raw, CFFILE_SIZE);
        uint32_t length = 0;
        if (fault == Fault::None) {
            fault = stream.ReadString(name, CAB_NAME_MAX, &length);
        }
        if (fault != Fault::None) {
            return TableFault(fault);
        }
        if (length == 0) {
            return Fail(Fault::Corrupt, "an empty file name");
        }
        FileEntry entry;
        entry.Size = Le32(raw + CFFILE_CB_FILE);
        entry.Offset = Le32(raw + CFFILE_UOFF_FOLDER_START);
        entry.IFolder = Le16(raw + CFFILE_I_FOLDER);
        entry.Date = Le16(raw + CFFILE_DATE);
        entry.Time = Le16(raw + CFFILE_TIME);
        entry.Attribs = Le16(raw + CFFILE_ATTRIBS);
        entry.Name = name;
        entry.NameLength = length;
        fault = visitor.OnFile(entry);
        if (fault != Fault::None) {
            return fault;
        }
    }
    return Fault::None;
}

bool IsSameCompression(uint16_t first, uint16_t second)
{
    if ((first & COMPRESS_MASK_TYPE) == COMPRESS_NONE && (second & COMPRESS_MASK_TYPE) == COMPRESS_NONE) {
        return true;
    }
    return first == second;
}

} // namespace Fdi
