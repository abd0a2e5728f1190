// Where frames cross between host and device: the flat frame the compose pass mixes in
// is drawn by the host straight into a mapped buffer, and the finished frame comes back
// from one, row by row into the caller's frame.
#include <cstring>

#include "spin/passes.h"

ReadBack::ReadBack(GPU::Impl& g, const SpinSetup& s) : w(s.w), h(s.h) {
    const VkDeviceSize frameBytes = VkDeviceSize(w) * VkDeviceSize(h) * 4;
    flat = makeBuffer(g, frameBytes, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT, Memory::HostMapped);
    out = makeBuffer(g, frameBytes, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT, Memory::HostMapped);
}

View8 ReadBack::staging() const { return {static_cast<uint8_t*>(flat.map), w, h, ptrdiff_t(w) * 4}; }

// The caller's frame may have a row pitch of its own.
void ReadBack::copyOut(View8 into) const {
    const size_t rowBytes = size_t(w) * 4;
    for (int i = 0; i < h; ++i)
        std::memcpy(into.top(i), static_cast<const uint8_t*>(out.map) + rowBytes * size_t(i), rowBytes);
}
