#pragma once
// The line under the window's controls that says what is happening: the
// chosen port and file before an upload, the phase, speed and time left
// during it, and how it ended afterwards. The ending stays until the user
// changes the file or the port, or starts the next upload. Redraws follow
// the upload's clock, at most about ten a second. A text too long for the
// line is shortened in the middle, and the whole of it is in the tooltip.

#include <QLabel>
#include <QString>
#include <optional>

#include "protocol/transfer_stats.h"
#include "protocol/upload.h"

namespace vq {

// A label that draws a text too long for it shortened in the middle, with
// an ellipsis, instead of cutting it off.
class ElidingLabel final : public QLabel {
public:
    using QLabel::QLabel;
    // What is drawn.
    QString shown_text() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class StatusLine final : public UploadObserver {
public:
    explicit StatusLine(QLabel& label) : label_(label) {}

    // The user changed the file or the port: the line shows the new choice,
    // unless an upload is running.
    void show_choice(const QString& text);
    // `port_cause` says why the port could not be opened, once that is
    // known; it must outlive the upload. `aside` follows every text shown
    // during the upload.
    void upload_started(const std::string& port_cause, const QString& aside = {});
    void upload_ended(const UploadResult& result, const std::string& port_cause);
    int redraws() const { return redraws_; }

    void on_phase(Phase phase, int attempt) override;
    void on_block(std::int32_t index, std::int32_t total, std::uint8_t number) override;
    void on_progress(int percent) override { stats_.on_progress(percent); }
    void on_transmission(Transmission kind, std::span<const std::uint8_t, kFrameSize> frame, double time) override;
    void on_reply(const Reply& reply, double time) override;
    void on_pacing(Pace pace, const std::string& why) override;
    void on_ending(const UploadResult& result) override;

private:
    void draw(bool force);
    void set(const QString& text);

    QLabel& label_;
    TransferStats stats_;
    bool uploading_ = false;
    const std::string* port_cause_ = nullptr;
    QString aside_;
    double now_ = 0;
    std::optional<double> last_draw_;
    int redraws_ = 0;
};

}  // namespace vq
