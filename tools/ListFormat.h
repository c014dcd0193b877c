// Output of "selfex list": text lines for people, JSON for scripts.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/PackageReader.h"

namespace Selfex {

// "YYYY-MM-DD HH:MM:SS" of a stored MS-DOS date and time, as stored (local
// time of the packer); dashes when both are 0 (no valid stored date).
std::string FormatDosDateTime(uint16_t date, uint16_t time);

// "RHSA" with a "-" for each of read-only, hidden, system, archive not set.
std::string FormatAttributes(uint16_t attribs);

// One line per file: size (right-aligned), date and time, attributes, name
// (escaped as PrintableText does).
void WriteListText(std::ostream &out, const std::vector<StoredFile> &files);

// One JSON object: {"path", "cabinetOffset", "signature", "files":
// [{"name", "size", "date", "time", "attributes", "attribs"}]}; dates null
// when not valid; signature (tools/pe/Signature.h) left out when empty.
void WriteListJson(std::ostream &out, const std::string &path, uint32_t cabinetOffset,
                   const std::vector<StoredFile> &files, const std::string &signature = std::string());

// text as a JSON string literal, quotes included: controls (C0, DEL, C1)
// and bidirectional controls as \uNNNN, ill-formed UTF-8 as \ufffd.
std::string JsonString(const std::string &text);

} // namespace Selfex
