#pragma once
// The line under the window's controls that says what is happening: the
// chosen port and file before an upload, the phase, speed and time left
// during it, and how it ended afterwards. The ending stays until the user
// changes the file or the port, or starts the next upload. Redraws follow
// the upload's clock, at most about ten a second. The view shortens a text
// too long for the line, and shows the whole of it in the tooltip.

#include <functional>
#include <optional>
#include <string>

#include "protocol/transfer_stats.h"
#include "protocol/upload.h"

namespace vq {

class StatusLine final : public UploadObserver {
public:
    // `current` reads the line's text, `set` changes it.
    StatusLine(std::function<std::string()> current, std::function<void(const std::string&)> set)
        : current_(std::move(current)), set_(std::move(set)) {}

    // The user changed the file or the port: the line shows the new choice,
    // unless an upload is running.
    void show_choice(const std::string& text);
    // `port_cause` says why the port could not be opened, once that is
    // known; it must outlive the upload. `aside` follows every text shown
    // during the upload.
    void upload_started(const std::string& port_cause, const std::string& aside = {});
    // `record` says where the upload's record went, when one was kept.
    void upload_ended(const UploadResult& result, const std::string& port_cause, const std::string& record = {});
    int redraws() const { return redraws_; }

    void on_phase(Phase phase, int attempt) override;
    void on_block(std::int32_t index, std::int32_t total, std::uint8_t number) override;
    void on_progress(int percent) override { stats_.on_progress(percent); }
    void on_transmission(Transmission kind, std::span<const std::uint8_t> frame, double time) override;
    void on_reply(const Reply& reply, double time) override;
    void on_pacing(Pace pace, const std::string& why) override;
    void on_ending(const UploadResult& result) override;

private:
    void draw(bool force);
    void set(const std::string& text);

    std::function<std::string()> current_;
    std::function<void(const std::string&)> set_;
    TransferStats stats_;
    bool uploading_ = false;
    const std::string* port_cause_ = nullptr;
    std::string aside_;
    double now_ = 0;
    std::optional<double> last_draw_;
    int redraws_ = 0;
};

}  // namespace vq
