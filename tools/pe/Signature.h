// Whether a package carries an Authenticode signature: a certificate table
// named by the PE security directory. Only its presence is read here;
// verifying it is the signing tools' job (osslsigncode verify, signtool).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Selfex {

// True when the PE headers at the start of image (headSize bytes) name a
// certificate table inside a file of fileSize bytes.
bool HasCertificateTable(const uint8_t *image, size_t headSize, uint64_t fileSize);

// "present" when path (UTF-8) is a PE file whose security directory names
// a certificate table inside the file, else "absent" (a bare cabinet, an
// unreadable file and a damaged entry included).
std::string SignatureState(const std::string &path);

} // namespace Selfex
