#include "protocol/upload_base.h"

#include <new>

#include "protocol/failure.h"
#include "protocol/host.h"
#include "protocol/image_file.h"
#include "protocol/serial_link.h"
#include "protocol/wait.h"

namespace vq {

UploadBase::UploadBase(const UploadContext& context) : c_(context) { result_.protocol = context.protocol; }

UploadBase::~UploadBase() = default;

UploadResult UploadBase::run(const std::string& path_text, const std::string& file_name) {
    try {
        phase(Phase::Starting, 0);
        c_.form.stop_request = 0;
        c_.displays.set_percent_text("");
        c_.displays.set_progress(0.0f);

        if (path_text.empty()) {
            result_.end = clean_up(UploadEnd::NoFileChosen);
        } else {
            const bool keep = keeps_received() && c_.open_keeping_received;
            switch (keep ? c_.open_keeping_received() : c_.init_serial_port()) {
            case 0:
                load_image(file_name);
                result_.end = transfer();
                break;
            case 1: tell(UploadEnd::InvalidPort, text::kPortInvalid); break;
            default: tell(UploadEnd::PortUnavailable, text::kPortUsing); break;
            }
        }
    } catch (const Failure& f) {
        on_failure(f.number(), f.what());
    } catch (const std::bad_alloc&) {
        on_failure(err::OutOfMemory, "not enough memory for the image");
    }
    result_.pace = pace();
    return result_;
}

void UploadBase::load_image(const std::string& file_name) {
    file_ = c_.files.open_image(file_name);
    const std::int64_t length = file_->length();
    if (length > kLargestImage) throw Failure(err::Overflow, "it is larger than 2 GiB - 1 KiB");
    result_.file_empty = length < 1;
    if (result_.file_empty && !sends_empty_files()) throw Failure(err::SubscriptOutOfRange, "the file is empty");
    image_ = file_->read_all();
    if (static_cast<std::int64_t>(image_.size()) != length)
        throw Failure(err::SubscriptOutOfRange, "the file changed while it was read");
    result_.image_length = length;
    count_blocks();
}

void UploadBase::count_blocks() {
    const auto block = static_cast<std::int64_t>(block_size());
    result_.blocks_total = static_cast<std::int32_t>((result_.image_length + block - 1) / block);
}

std::int64_t UploadBase::length() {
    const std::int64_t now = file_->length();
    if (now != static_cast<std::int64_t>(image_.size()))
        throw Failure(err::SubscriptOutOfRange, "the file changed length during the upload");
    return now;
}

void UploadBase::report_block(std::int64_t offset, std::uint8_t number) {
    result_.block_index = static_cast<std::int32_t>(offset / static_cast<std::int64_t>(block_size()));
    result_.block_number = number;
    if (c_.observer) c_.observer->on_block(result_.block_index, result_.blocks_total, number);
}

void UploadBase::show_percent(std::int64_t offset, std::int64_t len) {
    const int percent = progress_percent(offset, len, block_size());
    c_.displays.set_progress(static_cast<float>(percent));
    c_.displays.set_percent_text(std::to_string(percent) + "%");
    if (c_.observer) c_.observer->on_progress(percent);
}

UploadEnd UploadBase::stopped_before_blocks() {
    c_.displays.set_percent_text("");
    return clean_up(UploadEnd::StoppedWaiting);
}

void UploadBase::on_failure(int number, const std::string& what) {
    result_.error_number = number;
    result_.error_text = what;
    if (number == err::PathFileAccess) {
        // The port stays open and the displays keep what they show.
        contained([&] { tell(UploadEnd::FileNotFound, text::kFileMissing); });
        return;
    }
    contained([&] {
        if (c_.link.PortOpen()) abandon();
    });
    result_.end = clean_up(UploadEnd::Failed);
}

UploadEnd UploadBase::tell(UploadEnd end, const char* text) {
    result_.end = end;
    if (c_.observer) c_.observer->on_ending(result_);
    c_.messages.show(text);
    return end;
}

UploadEnd UploadBase::clean_up(UploadEnd end) {
    contained([&] { c_.displays.set_percent_text(" "); });
    contained([&] { c_.displays.set_progress(0.0f); });
    c_.form.reply_code = kNoAnswer;
    file_.reset();
    contained([&] {
        if (c_.link.PortOpen() && !c_.keep_port_open) c_.link.setPortOpen(false);
    });
    return end;
}

template <typename Step>
void UploadBase::contained(Step step) {
    try {
        step();
    } catch (const std::exception&) {
        result_.cleanup_failed = true;
    }
}

bool UploadBase::stop_requested() {
    if (c_.form.stop_request == 0) return false;
    c_.form.stop_request = 0;
    return true;
}

void UploadBase::phase(Phase p, int attempt) {
    if (c_.observer) c_.observer->on_phase(p, attempt);
}

void UploadBase::wait(float seconds) { wait_seconds(seconds, c_.clock); }

void UploadBase::transmit(Transmission kind, std::span<const std::uint8_t> bytes) {
    c_.link.Output(bytes);
    c_.link.setOutBufferCount(0);
    const double now = c_.clock.now();
    if (kind == Transmission::Data && !first_data_time_) first_data_time_ = now;
    if (c_.observer) c_.observer->on_transmission(kind, bytes, now);
}

void UploadBase::acknowledged_block() {
    ++result_.blocks_acknowledged;
    last_ack_time_ = c_.clock.now();
}

void UploadBase::hint(Hint h) {
    if (result_.hint == h) return;
    result_.hint = h;
    if (c_.observer) c_.observer->on_hint(h);
}

void UploadBase::note_transfer_time() {
    if (first_data_time_) result_.seconds = last_ack_time_ - *first_data_time_;
}

}  // namespace vq
