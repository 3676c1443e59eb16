#include <windows.h>

#include "link/drain.h"

namespace vq {

bool drain_output(std::intptr_t handle) { return FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != 0; }

}  // namespace vq
