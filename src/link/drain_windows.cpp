#include <windows.h>

#include "link/drain.h"

namespace vq {

long output_queued(std::intptr_t handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &status)) return -1;
    return static_cast<long>(status.cbOutQue);
}

void sleep_ms(long ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace vq
