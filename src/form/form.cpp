#include "form/form.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <cstdlib>
#include <filesystem>

#include "link/port_errors.h"
#include "link/port_list.h"
#include "link/port_opening.h"
#include "protocol/image_file.h"
#include "protocol/report.h"
#include "protocol/serial_link.h"
#include "protocol/wait.h"
#include "records/file_hash.h"
#include "records/record_writer.h"

namespace vq {
namespace {

constexpr const char* kDot = " \u00B7 ";

// The form changes the controls without hearing of it as a user's change.
class Quiet {
public:
    explicit Quiet(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~Quiet() { flag_ = was_; }

private:
    bool& flag_;
    bool was_;
};

std::string hours_and_minutes(std::time_t when) {
    const std::tm local = records::local_calendar(when);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

std::string file_name_of(const std::string& path) { return utf8_from_path(path_from_utf8(path).filename()); }

// "60 s".
std::string seconds_words(double seconds) { return std::to_string(static_cast<int>(seconds)) + " s"; }

// "XMODEM-1K", as the standard protocols are written.
std::string upper(std::string word) {
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
}

}  // namespace

std::string help_text() {
    const std::string crlf = "\r\n";
    return "Help Information: " + crlf + crlf +                                      //
           "1.Open File:  Select the bin file that you want to send." + crlf + crlf +  //
           "2.Serial Ports:  Choose the port that is to send data." + crlf + crlf +   //
           "3.Send Data:  Press this button to star sending.";
}

Form::Form(FormView& view, FormServices services)
    : view_(view),
      services_(std::move(services)),
      status_([this] { return view_.status_text(); }, [this](const std::string& text) { view_.set_status_text(text); }),
      console_(services_.window.MSComm1, [this](const std::string& text) { view_.append_console_text(text); }) {
    show_toggle();
    // Each entry says what it is: the box has no label of its own.
    std::vector<std::string> protocols;
    for (Protocol p : kProtocols) protocols.push_back(p == Protocol::Device ? "device protocol" : upper(protocol_word(p)));
    view_.set_protocol_entries(protocols);
}

Protocol Form::protocol() const {
    const int index = view_.protocol_index();
    return index > 0 && index < static_cast<int>(std::size(kProtocols)) ? kProtocols[index] : Protocol::Device;
}

void Form::Form_Load() {
    // The place chosen in an earlier run, over VELLQUIN_RECORDS and the default.
    if (services_.window.records && services_.window.settings)
        if (const std::string remembered = services_.window.settings->get(kRecordsSetting); !remembered.empty())
            if (const auto target = records::parse_records_target(remembered, nullptr))
                services_.window.records->set_target(*target);
    form_.stop_request = 0;
    form_.nak_count = 0;
    form_.reply_code = kNoAnswer;
    show_help();
    {
        const Quiet quiet(quiet_);  // the choice is shown once, after the probe
        view_.port_entries().Clear();
        discovery_ = {};
        discover_ports(services_.window.MSComm1, view_.port_entries(), &discovery_);
        label_ports();
    }
    show_choice();
}

void Form::show_help() { view_.show_help_text(help_text()); }

void Form::refresh_ports() {
    if (uploading_ || !services_.window.ports || !services_.window.port_source) return;
    if (!services_.window.ports->update(services_.window.port_source->present(), std::time(nullptr),
                                        port_number_of(view_.port_text())))
        return;
    if (services_.window.use_ports) services_.window.use_ports(services_.window.ports->map());
    {
        const Quiet quiet(quiet_);
        PortList& list = view_.port_entries();
        const std::string choice = view_.port_text();
        // As at start-up, a port this user may not open is not listed, and
        // the status line says why.
        auto listable = [](const PortBook::Entry& e) { return e.present && e.port.permitted; };
        discovery_.denied.clear();
        for (const PortBook::Entry& e : services_.window.ports->entries())
            if (e.present && !e.port.permitted && names_a_port(e.number)) discovery_.denied.push_back(e.number);
        for (int i = list.ListCount() - 1; i >= 0; --i) {
            const PortBook::Entry* e = services_.window.ports->at(port_number_of(list.List(i)));
            if ((!e || !listable(*e)) && list.List(i) != choice) list.RemoveItem(i);
        }
        for (const PortBook::Entry& e : services_.window.ports->entries()) {
            const std::string name = "COM" + std::to_string(e.number);
            if (!listable(e) || !names_a_port(e.number)) continue;
            bool listed = false;
            for (int i = 0; i < list.ListCount(); ++i) listed |= list.List(i) == name;
            if (listed) continue;
            int at = 0;
            while (at < list.ListCount() && port_number_of(list.List(at)) < e.number) ++at;
            list.AddItem(name, at);
        }
        view_.set_port_text(choice);
        label_ports();
    }
    show_choice();
}

// "COM1 · ttyUSB0 · CP2102 USB to UART" in the drop-down, "gone" for a
// device unplugged since.
void Form::label_ports() {
    if (!services_.window.ports) return;
    PortList& list = view_.port_entries();
    std::vector<std::string> labels;
    for (int i = 0; i < list.ListCount(); ++i) {
        const PortBook::Entry* e = services_.window.ports->at(port_number_of(list.List(i)));
        std::string label = list.List(i);
        if (e) {
            if (e->port.device != list.List(i)) label += kDot + short_device_name(e->port.device);
            if (!e->present)
                label += std::string(kDot) + "gone";
            else if (!e->port.description.empty())
                label += kDot + e->port.description;
        }
        labels.push_back(label);
    }
    view_.set_port_labels(labels);
}

void Form::Command1_Click() {
    // The dialog may return before the user has chosen: an upload that is
    // running goes on meanwhile.
    services_.window.CommonDialog1.ShowOpen([this, before = services_.window.CommonDialog1.FileName()] {
        const std::string chosen = services_.window.CommonDialog1.FileName();
        view_.set_path_text(chosen);
        if (chosen != before) show_choice();
    });
}

void Form::Command2_Click() {
    if (uploading_) return;  // one upload at a time
    uploading_ = true;
    std::optional<records::RecordWriter> record;
    if (services_.window.records && services_.window.records->enabled())
        record.emplace(*services_.window.records, starting_record(), [this](const UploadResult& r) { return ending_of(r); });
    ObserverList observers;
    if (record) observers.add(&*record);  // first: committed before anyone hears of the ending
    observers.add(&status_);
    observers.add(&console_);
    UploadContext context{services_.window.MSComm1,
                                services_.window.clock,
                                services_.displays,
                                upload_messages_,
                                services_.window.files,
                                form_,
                                [this] { return init_serial_port(); },
                                &observers,
                                reply_pacing_ ? Pace::Reply : Pace::Fixed,
                                protocol(),
                                kStartWaits[start_wait_],
                                [this] { return init_serial_port(Waiting::Keep); }};
    context.command = command();
    port_cause_.clear();
    // The standard protocols are named while they run; the device's own goes unnamed, as it always has.
    std::string aside = path_box_note();
    if (context.protocol != Protocol::Device)
        aside = upper(protocol_word(context.protocol)) + (aside.empty() ? "" : kDot + aside);
    status_.upload_started(port_cause_, aside);
    last_result_ = run_upload(context, view_.path_text(), services_.window.CommonDialog1.FileName());
    std::string record_words;
    if (record)
        if (const auto& kept = record->finish(*last_result_, ending_of(*last_result_)))
            record_words = kept->note.empty() ? "Record kept in " + kept->where : kept->note;
    status_.upload_ended(*last_result_, port_cause_, record_words);
    uploading_ = false;
    if (close_when_done_) view_.close_window();
}

// What is known of an upload at its start: the chosen file, its SHA-256,
// the port and the device behind it, the protocol and the pacing.
records::UploadRecord Form::starting_record() const {
    const std::string file = services_.window.CommonDialog1.FileName();
    std::vector<std::uint8_t> bytes;
    bool read = false;
    try {
        bytes = services_.window.files.open_image(file)->read_all();
        read = true;
    } catch (const std::exception&) {
        // a file that is not there is on record without its size or hash
    }
    records::UploadRecord r = records::starting_record(file, read ? static_cast<std::int64_t>(bytes.size()) : -1,
                                                       read ? records::sha256_hex(bytes) : std::string());
    r.port = view_.port_text();
    const int n = port_number_of(r.port);
    if (const PortBook::Entry* e = services_.window.ports && names_a_port(n) ? services_.window.ports->at(n) : nullptr) {
        r.tty = e->port.device;
        for (const std::string* part : {&e->port.identity, &e->port.location, &e->port.description})
            if (!part->empty()) r.adapter += (r.adapter.empty() ? "" : ", ") + *part;
    }
    r.protocol = protocol_word(protocol());
    r.pace = pace_word(reply_pacing_ && protocol() == Protocol::Device ? Pace::Reply : Pace::Fixed);
    return r;
}

records::Ending Form::ending_of(const UploadResult& result) const {
    return {outcome_word(result.end), exit_code_for(result), describe_end(result, port_cause_)};
}

void Form::Command3_Click() {
    if (uploading_) form_.stop_request = 1;
}

std::int16_t Form::init_serial_port(Waiting waiting) {
    // "Invalid Serial Port" comes from the opening itself: the line under its
    // box says so already.
    if (!names_a_port(port_number_of(view_.port_text()))) {
        UploadResult invalid;
        invalid.end = UploadEnd::InvalidPort;
        status_.on_ending(invalid);
    }
    return vq::init_serial_port(view_.port_text(), services_.window.MSComm1, upload_messages_, &port_cause_, waiting);
}

void Form::wait_seconds(float seconds) { vq::wait_seconds(seconds, services_.window.clock); }

std::int16_t Form::read_reply() { return vq::read_reply(services_.window.MSComm1, form_); }

bool Form::may_close() {
    if (!uploading_) return true;
    form_.stop_request = 1;
    close_when_done_ = true;
    return false;
}

void Form::choice_changed() {
    if (!quiet_) show_choice();
}

void Form::protocol_chosen() {
    show_toggle();
    show_choice();
}

void Form::records_asked() {
    if (uploading_ || !services_.window.records || !services_.window.ask_text) return;
    records::RecordKeeper& keeper = *services_.window.records;
    const auto answer = services_.window.ask_text(kRecordsPrompt, records::records_target_text(keeper.target()));
    if (!answer) return;
    std::string error;
    const auto target = answer->empty() ? records::chosen_records_target({}, std::getenv("VELLQUIN_RECORDS"), &error)
                                        : records::parse_records_target(*answer, &error);
    if (!target) {
        status_.show_choice("Records: " + error + "; they still go to " + records::records_target_text(keeper.target()));
        return;
    }
    keeper.set_target(*target);
    if (services_.window.settings) services_.window.settings->set(kRecordsSetting, *answer);
    status_.show_choice(target->kind == records::RecordsTarget::None
                            ? std::string("Records: none are kept from now on")
                            : "Records go to " + records::records_target_text(*target) + " from now on");
}

void Form::console_toggled(bool shown) {
    if (uploading_) return;
    console_.set_shown(shown);
    show_choice();
}

void Form::console_tick() {
    if (!uploading_) console_.poll(view_.port_text());
}

void Form::console_line(const std::string& line) {
    if (!uploading_) console_.type(view_.port_text(), line);
}

std::string Form::command() const {
    if (!console_.shown() || protocol() == Protocol::Device) return {};
    std::string text = view_.command_text();
    const auto first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void Form::pacing_toggled() {
    if (protocol() == Protocol::Device)
        reply_pacing_ = view_.pacing_on();
    else
        start_wait_ = (start_wait_ + 1) % std::size(kStartWaits);
    show_toggle();
    show_choice();
}

// Replies pace only the device's own protocol; the others go at the
// receiver's pace, and the toggle sets how long it may take to start.
void Form::show_toggle() {
    if (protocol() == Protocol::Device) {
        view_.set_pacing_on(reply_pacing_);
        view_.set_pacing_caption(reply_pacing_ ? "\u2714 Reply pacing: on" : "Reply pacing: off", reply_pacing_);
        view_.set_pacing_tip(kReplyPacingTip);
    } else {
        view_.set_pacing_on(false);
        view_.set_pacing_caption("Start wait: " + seconds_words(kStartWaits[start_wait_]), false);
        view_.set_pacing_tip(kStartWaitTip);
    }
}

// The file sent is the one Open file chose; what is typed in the path box
// only has to be there. Said whenever the two differ.
std::string Form::path_box_note() const {
    const std::string chosen = services_.window.CommonDialog1.FileName();
    const std::string typed = view_.path_text();
    if (chosen.empty() || typed.empty() || typed == chosen) return {};
    return "Sends " + file_name_of(chosen) + ", the file chosen with Open file; the path box only has to be non-empty";
}

// The chosen port and file: which device the COM number stands for (in the
// port list's tooltip and the status line), whether it is busy, a port the
// user may not open, the file's size, and whether replies pace the upload.
void Form::show_choice() {
    std::vector<std::string> parts;
    const int n = port_number_of(view_.port_text());
    const PortBook::Entry* chosen = services_.window.ports && names_a_port(n) ? services_.window.ports->at(n) : nullptr;
    const std::string name = "COM" + std::to_string(n);
    // On Windows the device is the COM name itself.
    std::string port = name + (chosen && chosen->port.device != name ? " is " + chosen->port.device : std::string());
    const bool busy = std::find(discovery_.busy.begin(), discovery_.busy.end(), n) != discovery_.busy.end();
    if (chosen && !chosen->present)
        port += " (gone: unplugged at " + hours_and_minutes(chosen->gone_at) + ")";
    else if (chosen && !chosen->given_again_from.empty())
        port += " (new; COM1 to COM9 were all held, so this number was given again: it stood for " +
                chosen->given_again_from + ", unplugged the longest)";
    else if (chosen && chosen->is_new)
        port += " (new)";
    else if (busy)
        port += " (busy: another program holds it)";
    if (services_.window.ports) {
        std::string tip = chosen ? port : "No serial device behind this choice";
        if (chosen && !chosen->port.description.empty()) tip += kDot + chosen->port.description;
        view_.set_port_tip(tip);
    }
    if (view_.port_entries().ListCount() == 0)
        parts.push_back("No serial ports found");
    else if (names_a_port(n))
        parts.push_back(port);
    // A port that exists but may not be opened is not listed; say so, and how to fix it.
    if (!discovery_.denied.empty()) {
        const int denied = discovery_.denied.front();
        const PortBook::Entry* e = services_.window.ports ? services_.window.ports->at(denied) : nullptr;
        parts.push_back(permission_problem("COM" + std::to_string(denied) + (e ? " (" + e->port.device + ")" : std::string()),
                                           e ? ownership_of(e->port.device) : std::nullopt));
    }
    if (const std::string file = services_.window.CommonDialog1.FileName(); !file.empty()) {
        const std::filesystem::path path = path_from_utf8(file);
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        parts.push_back(file_name_of(file) + ": " +
                        (std::filesystem::is_regular_file(status)
                             ? describe_size(static_cast<std::int64_t>(std::filesystem::file_size(path, ec)),
                                           block_size_of(protocol()))
                         : std::filesystem::exists(status) ? std::string("not a regular file")
                                                           : std::string("not found")));
    }
    // The note comes first: a long line is shortened at its end.
    const std::string note = path_box_note();
    if (!note.empty()) parts.insert(parts.begin(), note);
    view_.set_path_tip(note);
    if (const std::string typed = command(); !typed.empty())
        parts.push_back("Types " + typed + " at the board's prompt, then " + upper(protocol_word(protocol())) +
                        " if the receiver speaks it");
    else if (protocol() != Protocol::Device)
        parts.push_back(upper(protocol_word(protocol())) + ", when the receiver asks within " +
                        seconds_words(kStartWaits[start_wait_]));
    else if (reply_pacing_)
        parts.push_back("paced by replies");
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : kDot) + part;
    status_.show_choice(text);
}

}  // namespace vq
