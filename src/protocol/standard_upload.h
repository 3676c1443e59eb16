#pragma once
// The standard protocols, XMODEM (128-byte blocks), XMODEM-1K and YMODEM
// batch, as bootloaders and terminal programs receive them. The receiver
// leads: it asks for the first block with 'C' (CRC-16) or NAK (8-bit sum),
// answers each frame with ACK or NAK, and ends with ACK to EOT. Nothing is
// sent before it asks, and no wake-up is ever sent.

#include <string>

#include "protocol/upload.h"

namespace vq {

// The waits and limits of the standard protocols.
struct StandardTiming {
    // How long the receiver may take to answer a frame or an EOT, as the
    // protocols have always allowed; receivers time out and NAK in less.
    double answer_wait;
    // Before each frame: receivers such as lrzsz empty their input just
    // after they answer, and would lose the start of a frame sent at once.
    // Their answer and the emptying are microseconds apart; on a real line
    // the answer alone takes longer to arrive.
    double frame_pause;
    // Two CANs in a row cancel; they must not be further apart than this.
    double cancel_gap;
    // Sends of one frame after the first, and of EOT, before giving up.
    int retries;
    // CANs of our cancel: lrzsz needs two in a row, U-Boot three.
    int cancel_bytes;
};
inline constexpr StandardTiming kStandardTiming{
    .answer_wait = 10.0, .frame_pause = 0.0001, .cancel_gap = 1.0, .retries = 10, .cancel_bytes = 8};

UploadResult run_standard_upload(const UploadContext& context, const std::string& path_text,
                                 const std::string& file_name);

}  // namespace vq
