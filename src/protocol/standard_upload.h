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
    // How long the receiver may take to answer a frame, as the protocols
    // have always allowed; receivers time out and NAK in less.
    double answer_wait;
    // Once every block is acknowledged: how long the receiver may take to
    // answer an EOT, to ask for YMODEM's next file and to answer the empty
    // block 0 that ends the batch. A receiver that has all it needs may
    // exit without answering the end (lrzsz's last answer is lost when it
    // exits on a tty), so these waits are short.
    double end_wait;
    // After XMODEM's EOT is acknowledged: a request heard this soon is a
    // YMODEM receiver asking for the next file's block 0 (U-Boot's loady
    // sends it right behind its ACK), so it never took the image.
    double restart_window;
    // Before each frame: receivers such as lrzsz empty their input just
    // after they answer, and would lose the start of a frame sent at once.
    // Their answer and the emptying are microseconds apart; on a real line
    // the answer alone takes longer to arrive.
    double frame_pause;
    // Two CANs in a row cancel; they must not be further apart than this.
    double cancel_gap;
    // Sends of one frame after the first, before giving up.
    int retries;
    // Sends of EOT, and of the empty block 0 that ends a YMODEM batch.
    int eot_sends;
    int batch_end_sends;
    // CANs of our cancel: lrzsz needs two in a row, U-Boot three.
    int cancel_bytes;
    // A console: how long the receiver's words may take after its command,
    // and its report (U-Boot's "## Total Size") after the end.
    double console_wait;
};
inline constexpr StandardTiming kStandardTiming{
    .answer_wait = 10.0,
                                             .end_wait = 2.0,
                                             .restart_window = 0.3,
                                             .frame_pause = 0.0001,
                                             .cancel_gap = 1.0,
                                             .retries = 10,
                                             .eot_sends = 4,
                                             .batch_end_sends = 2,
                                             .cancel_bytes = 8,
                                             .console_wait = 5.0};

UploadResult run_standard_upload(const UploadContext& context, const std::string& path_text,
                                 const std::string& file_name);

}  // namespace vq
