// LZX folder codec (placeholder until the decoder lands: every LZX folder
// fails with the bad-compression-type status).
#include "fdi/Codec.h"

namespace Fdi {

CCodec *CreateLzx(const Allocator &, unsigned, Status *status) {
    *status = Status::BadCompression;
    return nullptr;
}

} // namespace Fdi
