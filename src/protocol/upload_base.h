#pragma once
// What every protocol's upload does the same way: the start (the path box,
// the port, the image), the message boxes, the clean-up that always runs,
// failures, stop requests, progress and the observer. A protocol supplies
// only its transfer, from the loaded image to its ending.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/upload.h"

namespace vq {

class UploadBase {
public:
    explicit UploadBase(const UploadContext& context);
    virtual ~UploadBase();
    UploadBase(const UploadBase&) = delete;
    UploadBase& operator=(const UploadBase&) = delete;

    UploadResult run(const std::string& path_text, const std::string& file_name);

protected:
    // From the loaded image to the ending, clean-up included. Failures are
    // thrown as vq::Failure and end the upload through the failure path.
    virtual UploadEnd transfer() = 0;
    // Whether replies pace the upload at its end.
    virtual Pace pace() const = 0;
    // Whether what the device sent before the port was opened counts.
    virtual bool keeps_received() const { return false; }
    // Whether a file of no bytes is sent rather than refused.
    virtual bool sends_empty_files() const { return false; }
    // A failure ends the upload with the port still open: the protocol may
    // tell the other end, so that it does not keep a partial image waiting.
    virtual void abandon() {}

    // The image length, taken from the open file at every use: a file that
    // changed length under us ends the upload instead of sending a mixture.
    std::int64_t length();
    std::span<const std::uint8_t> image() const { return image_; }

    // Reports the block at `offset`, numbered `number` on the wire.
    void report_block(std::int64_t offset, std::uint8_t number);
    // Shows the percentage of the block at `offset` of `len` bytes.
    void show_percent(std::int64_t offset, std::int64_t len);
    UploadEnd stopped_before_blocks();
    // Shows the message box of ending `end`, once the observer knows it.
    UploadEnd tell(UploadEnd end, const char* text);
    // Every step runs even when an earlier one fails: a port that vanished
    // must not keep the file open or the displays showing a transfer.
    UploadEnd clean_up(UploadEnd end);
    // Consumes a pending stop request.
    bool stop_requested();
    void phase(Phase p, int attempt);
    void wait(float seconds);
    // Sends `bytes` whole and reports them.
    void transmit(Transmission kind, std::span<const std::uint8_t> bytes);
    // The receiver acknowledged a data block.
    void acknowledged_block();
    // The transfer time, from the first data frame to the last acknowledged.
    void note_transfer_time();
    // The other end gave `h` away; the observer hears each hint once.
    void hint(Hint h);

    // Data bytes per block.
    std::size_t block_size() const { return block_size_of(result_.protocol); }
    // Counts the image's blocks anew, after the block size changed.
    void count_blocks();

    const UploadContext& c_;
    UploadResult result_;

private:
    void load_image(const std::string& file_name);
    void on_failure(int number, const std::string& what);
    template <typename Step>
    void contained(Step step);

    std::unique_ptr<ImageFile> file_;
    std::vector<std::uint8_t> image_;
    std::optional<double> first_data_time_;
    double last_ack_time_ = 0;
};

}  // namespace vq
