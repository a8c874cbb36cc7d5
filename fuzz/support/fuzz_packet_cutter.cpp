// Cuts an arbitrary byte stream, split into reads of arbitrary sizes, into packets the way the
// receive thread does, and checks every packet handed out is whole and correctly framed.
#include "support/RecvBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

using namespace Zorvik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte sets the read sizes; a read size of 0 stands for a would-block.
    const uint8_t pattern = data[0];
    const uint8_t* stream = data + 1;
    size_t left = size - 1;
    size_t step = 0;
    auto read = [&](void* into, size_t room) -> ssize_t {
        const size_t want = ((pattern >> (step++ % 8)) & 1) != 0 ? 1 + (step * 37) % 5000 : 0;
        if (want == 0 || left == 0) {
            errno = EAGAIN;
            return -1;
        }
        const size_t n = std::min({want, room, left});
        std::memcpy(into, stream, n);
        stream += n;
        left -= n;
        return static_cast<ssize_t>(n);
    };

    CRecvBuffer buffer;
    if (!buffer.Allocate(16384)) {
        return 0;
    }
    for (size_t guard = 0; guard < 2 * size + 16 && (left > 0 || !buffer.InSync()); ++guard) {
        if (ReadStream(buffer, read) == StreamRead::Data) {
            buffer.SetInSync(CutPackets(buffer, [](const uint8_t* p, uint32_t length) {
                if (length < kFrameHeaderSize || length != kFrameHeaderSize + FramePayloadLength(p) ||
                    length > kFrameHeaderSize + kMaxFramePayload) {
                    std::abort();
                }
                volatile uint8_t last = p[length - 1]; // the whole packet must be readable
                (void)last;
            }));
        }
    }
    return 0;
}
