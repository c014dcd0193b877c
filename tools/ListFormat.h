// Output of "selfex list": text lines for people, JSON for scripts.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/CabinetSet.h"
#include "tools/Cli.h"

namespace Selfex {

// "YYYY-MM-DD HH:MM:SS" of a stored MS-DOS date and time, as stored (local
// time of the packer); dashes when they hold no valid date and time.
std::string FormatDosDateTime(uint16_t date, uint16_t time);

// True when date and time name a real moment (month 1-12, a day of that
// month, hours below 24, and so on), as the extractor can apply it.
bool IsValidDosDateTime(uint16_t date, uint16_t time);

// "RHSA" with a "-" for each of read-only, hidden, system, archive not set.
std::string FormatAttributes(uint16_t attribs);

// One line per file: size (right-aligned), date and time, attributes, a
// mark ("!" unsafe, "<" begins in an earlier cabinet, else a space) and
// the name (escaped as PrintableText does); verbose adds each file's folder
// before the mark. Then, unless quiet, with verbose a line per folder with
// its compressed size, and the totals line.
void WriteListText(std::ostream &out, const CCabinetSetListing &listing, Verbosity verbosity);

// One JSON object (the fields are documented in README.md): "path",
// "cabinetOffset", "signature" (tools/pe/Signature.h; left out when
// empty), "files", "folders", "cabinets", "totals", "setStart", and "error"
// only when error is not empty.
void WriteListJson(std::ostream &out, const std::string &path, const CCabinetSetListing &listing,
                   const std::string &error, const std::string &signature = std::string());

// text as a JSON string literal, quotes included: controls (C0, DEL, C1)
// and bidirectional controls as \uNNNN, ill-formed UTF-8 as \ufffd.
std::string JsonString(const std::string &text);

// "37.0 %": part of whole, or "-" when whole is 0.
std::string FormatRatio(uint64_t part, uint64_t whole);

} // namespace Selfex
