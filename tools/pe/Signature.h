// Whether a package carries an Authenticode signature: a certificate table
// named by the PE security directory. Only its presence is read here;
// verifying it is the signing tools' job (osslsigncode verify, signtool).
#pragma once

#include <string>

namespace Selfex {

// "present" when path (UTF-8) is a PE file whose security directory names
// a certificate table inside the file, else "absent" (a bare cabinet, an
// unreadable file and a damaged entry included).
std::string SignatureState(const std::string &path);

} // namespace Selfex
