// Quantum folder codec (placeholder until the decoder lands: every Quantum
// folder fails with the bad-compression-type status).
#include "fdi/Codec.h"

namespace Fdi {

CCodec *CreateQuantum(const Allocator &, unsigned, unsigned, Status *status) {
    *status = Status::BadCompression;
    return nullptr;
}

} // namespace Fdi
