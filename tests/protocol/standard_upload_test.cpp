#include "protocol/standard_upload.h"

#include <gtest/gtest.h>

#include <map>
#include <numeric>

#include "protocol/crc16.h"
#include "protocol/failure.h"
#include "protocol/report.h"
#include "protocol/standard_frame.h"
#include "protocol/upload_rig.h"
#include "support/boot_console.h"
#include "support/standard_receiver.h"

namespace vq {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::BootConsole;
using test::StandardReceiver;
constexpr std::uint8_t C = 'C';

struct StandardRig {
    explicit StandardRig(Protocol p) : protocol(p), receiver(rig.link, rig.clock, p) {}

    UploadResult run(const Bytes& image, const std::string& name = "fw.bin") {
        rig.files.put(name, image);
        const UploadContext context{rig.link,  rig.clock, rig.displays, rig.messages, rig.files, rig.form,
                                    [this] { return init_serial_port("COM1", rig.link, rig.messages); },
                                    &rig.timeline, Pace::Fixed, protocol, start_wait,
                                    [this] {
                                        const auto opened = init_serial_port("COM1", rig.link, rig.messages, nullptr,
                                                                             Waiting::Keep);
                                        rig.link.deliver(waiting_at_opening);
                                        return opened;
                                    },
                                    send_name,
                                    command,
                                    kDefaultPrompt,
                                    protocol_from_receiver,
                                    crc32,
                                    then};
        return run_upload(context, name, name);
    }

    // The image as the receiver keeps it: padded to whole blocks with 0x1A.
    static Bytes padded(Bytes image, std::size_t block) {
        image.resize((image.size() + block - 1) / block * block, wire::CPMEOF);
        return image;
    }

    test::UploadRig rig;
    Protocol protocol;
    double start_wait = 20;
    Bytes waiting_at_opening;  // received before the port was opened
    std::string send_name;     // YMODEM: the name block 0 gives
    std::string command;       // typed at a console first
    bool protocol_from_receiver = false;
    std::function<std::uint32_t(std::span<const std::uint8_t>)> crc32;  // asks the receiver's crc32 too
    std::vector<std::string> then;  // typed after the transfer
    StandardReceiver receiver;
};

// ---- every size arrives intact, by CRC or by sum ----------------------------

TEST(StandardUpload, EverySizeArrivesIntactWithEveryProtocolAndEitherCheck) {
    for (Protocol p : {Protocol::Xmodem, Protocol::Xmodem1k, Protocol::Ymodem})
        for (std::uint8_t request : {C, wire::NAK})
            for (std::size_t size : {1, 127, 128, 129, 1023, 1024, 1025, 3000}) {
                SCOPED_TRACE(std::string(protocol_word(p)) + (request == C ? " CRC " : " sum ") + std::to_string(size));
                StandardRig s(p);
                s.receiver.ask(request);
                const Bytes image = test::random_image(size, static_cast<unsigned>(size));
                const UploadResult r = s.run(image);
                ASSERT_EQ(r.end, UploadEnd::Finished) << describe_end(r);
                EXPECT_EQ(s.rig.messages.shown, std::vector<std::string>{text::kFinished});
                // XMODEM-1K's 1024-byte blocks go only with CRC-16: with the sum it sends 128-byte ones.
                const std::size_t block = p == Protocol::Xmodem1k && request == wire::NAK ? 128 : block_size_of(p);
                EXPECT_EQ(s.receiver.data, StandardRig::padded(image, block));
                EXPECT_EQ(s.receiver.heard[p == Protocol::Ymodem ? 1 : 0].size(), 3 + block + (request == C ? 2 : 1));
                EXPECT_EQ(r.retries, 0);
                EXPECT_EQ(acknowledged_bytes(r), static_cast<std::int64_t>(size));
                EXPECT_FALSE(s.rig.link.open());
                if (p == Protocol::Ymodem) {
                    EXPECT_EQ(s.receiver.name, "fw.bin");
                    EXPECT_EQ(s.receiver.length, std::to_string(size));
                    EXPECT_TRUE(s.receiver.batch_ended);
                }
            }
}

TEST(StandardUpload, NothingIsSentBeforeTheReceiverAsksAndNoWakeUpOrTrailingByteEver) {
    StandardRig s(Protocol::Xmodem1k);
    s.receiver.ask(C, 7.0);
    const UploadResult r = s.run(Bytes(1500, 0x55));
    ASSERT_EQ(r.end, UploadEnd::Finished);
    const auto& heard = s.receiver.heard;
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].size(), 1029u);
    EXPECT_EQ(heard[1].size(), 1029u);
    EXPECT_EQ(heard[2], Bytes{wire::EOT});
    EXPECT_EQ(s.rig.timeline.reads.front().code, kStartRequest) << "the first byte read is the request";
    EXPECT_DOUBLE_EQ(s.rig.timeline.reads.front().time, 7.0);
}

// ---- what real receivers do -------------------------------------------------

struct Habit {
    const char* name;
    Protocol protocol;
    std::function<void(StandardRig&)> arrange;
    UploadEnd end;
    int retries;
    double within;  // seconds of the upload's clock
    const char* says = "";  // part of the ending's words
};
void PrintTo(const Habit& h, std::ostream* os) { *os << h.name; }

class ReceiverHabits : public ::testing::TestWithParam<Habit> {};

TEST_P(ReceiverHabits, AreMetWithoutAHangOrALostBlock) {
    const Habit& h = GetParam();
    StandardRig s(h.protocol);
    h.arrange(s);
    const Bytes image = test::random_image(5000);
    const UploadResult r = s.run(image);
    EXPECT_EQ(r.end, h.end) << describe_end(r);
    EXPECT_EQ(r.retries, h.retries);
    EXPECT_LT(s.rig.clock.now(), h.within);
    EXPECT_NE(describe_end(r).find(h.says), std::string::npos) << describe_end(r);
    EXPECT_FALSE(s.rig.link.open());
    if (h.end == UploadEnd::Finished && r.end == UploadEnd::Finished) {
        EXPECT_EQ(Bytes(s.receiver.data.begin(), s.receiver.data.begin() + 5000), image);
        EXPECT_FALSE(s.receiver.cancelled);
    }
    if (h.end == UploadEnd::RetryLimit || h.end == UploadEnd::StoppedCancelSent || h.end == UploadEnd::Failed ||
        h.end == UploadEnd::Restarted) {
        EXPECT_EQ(s.receiver.heard.back(), Bytes(kStandardTiming.cancel_bytes, wire::CAN));
    }
    if (h.end == UploadEnd::NoStart || h.end == UploadEnd::StoppedWaiting || h.end == UploadEnd::Rejected) {
        EXPECT_TRUE(s.receiver.heard.empty());
    }
}

// The receiver answers the first data frame numbered `number` with `reply` instead.
void answer_block_once(StandardRig& s, std::uint8_t number, Bytes reply) {
    s.receiver.script = [number, reply, once = true](const Bytes& b) mutable -> std::optional<Bytes> {
        if (!once || (b[0] != wire::STX && b[0] != wire::SOH) || b[1] != number) return std::nullopt;
        once = false;
        return reply;
    };
}

// The receiver acknowledges EOT and its port goes away (a USB bootloader
// that starts what it received).
void vanish_after_eot(StandardRig& s) {
    s.receiver.ask(C);
    s.receiver.script = [&s](const Bytes& b) -> std::optional<Bytes> {
        if (b[0] != wire::EOT) return std::nullopt;
        s.rig.clock.after(0.002, [&s] { s.rig.link.vanish(); });
        return Bytes{wire::ACK};
    };
}

const Habit kHabits[] = {
    {"a receiver started late, asking every 10 s", Protocol::Xmodem1k,
     [](StandardRig& s) { s.receiver.ask(C, 12.0, 10.0); }, UploadEnd::Finished, 0, 13},
    {"U-Boot gave up on CRC: the last request counts", Protocol::Ymodem,
     [](StandardRig& s) {
         s.receiver.ask(wire::NAK, 5.0, 2.0);
         s.rig.clock.at(0.9, [&s] { s.rig.link.deliver({C, C, C, wire::NAK}); });
     },
     UploadEnd::Finished, 0, 2},
    {"text before the request is passed over, a G in it too", Protocol::Ymodem,
     [](StandardRig& s) {
         const std::string banner = "# GD32 Ready\r\n";
         s.rig.clock.at(0.2, [&s, banner] { s.rig.link.deliver(Bytes(banner.begin(), banner.end())); });
         s.receiver.ask(C);
     },
     UploadEnd::Finished, 0, 1},
    {"YMODEM-g's request is refused at once, naming it", Protocol::Ymodem, [](StandardRig& s) { s.receiver.ask('G'); },
     UploadEnd::Failed, 0, 1, "it asked for YMODEM-g, which is not sent here"},
    {"a lost ACK: the duplicate is ACKed", Protocol::Xmodem1k,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.lose_ack_of = 2;
     },
     UploadEnd::Finished, 1, 11},
    {"a lost ACK: the duplicate is NAKed, for ever", Protocol::Xmodem1k,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.lose_ack_of = 2;
         s.receiver.nak_duplicates = true;
     },
     UploadEnd::RetryLimit, 10, 11},
    {"U-Boot answers EOT with ACK ACK", Protocol::Ymodem,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.eot_answers = {{wire::ACK, wire::ACK}};
     },
     UploadEnd::Finished, 0, 1},
    {"a missed EOT is asked for again with C", Protocol::Ymodem,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.eot_answers = {{C}, {wire::ACK, wire::ACK}};
     },
     UploadEnd::Finished, 1, 1},
    {"the first EOT NAKed", Protocol::Xmodem,
     [](StandardRig& s) {
         s.receiver.ask(wire::NAK);
         s.receiver.eot_answers = {{wire::NAK}, {wire::ACK}};
     },
     UploadEnd::Finished, 1, 1},
    {"a receiver that missed a block asks for it again with C", Protocol::Xmodem1k,
     [](StandardRig& s) { s.receiver.ask(C), answer_block_once(s, 2, {C}); }, UploadEnd::Finished, 1, 1},
    {"EOT never answered", Protocol::Xmodem,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [](const Bytes& b) { return b[0] == wire::EOT ? std::optional(Bytes{'x'}) : std::nullopt; };
     },
     UploadEnd::NoEotAck, 3, 9, "Every block was acknowledged; the receiver did not acknowledge the end"},
    {"XMODEM to U-Boot's loady: ACK to EOT, then a request for YMODEM's next file", Protocol::Xmodem1k,
     [](StandardRig& s) { s.receiver.ask(C), s.receiver.eot_answers = {{wire::ACK, wire::ACK, C}}; },
     UploadEnd::Restarted, 0, 1,
     "Choose ymodem: the receiver may expect YMODEM \u00B7 The receiver asked for a new start after block 5, the last "
     "(the transfer was cancelled)"},
    {"rb cancels an XMODEM-1K block 1 at once", Protocol::Xmodem1k,
     [](StandardRig& s) { s.receiver.ask(C), answer_block_once(s, 1, {wire::CAN, wire::CAN}); },
     UploadEnd::CancelledByDevice, 0, 1, "Choose ymodem: the receiver may expect YMODEM \u00B7 The receiver cancelled"},
    {"the empty block 0 that ends the batch is never answered (rb exited)", Protocol::Ymodem,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [](const Bytes& b) {
             return b.size() > 3 && b[1] == 0 && b[3] == 0 ? std::optional(Bytes{}) : std::nullopt;
         };
     },
     UploadEnd::Finished, 1, 5, "; the receiver did not answer the end of the batch"},
    {"YMODEM: the port goes away once EOT is acknowledged", Protocol::Ymodem, vanish_after_eot, UploadEnd::Finished, 0,
     3, "did not answer the end of the batch"},
    {"XMODEM: the port goes away once EOT is acknowledged", Protocol::Xmodem1k, vanish_after_eot, UploadEnd::Finished,
     0, 1},
    {"XMODEM: the port goes away as EOT is sent, its answer lost", Protocol::Xmodem1k,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [&s](const Bytes& b) -> std::optional<Bytes> {
             if (b[0] == wire::EOT) s.rig.link.vanish();
             return std::nullopt;
         };
     },
     UploadEnd::NoEotAck, 0, 1, "Every block was acknowledged; the port went away before the receiver acknowledged"},
    {"no request for the batch's end after EOT", Protocol::Ymodem,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [](const Bytes& b) {
             return b[0] == wire::EOT ? std::optional(Bytes{wire::ACK}) : std::nullopt;
         };
     },
     UploadEnd::Finished, 0, 3, "did not answer the end of the batch"},
    {"a cancel left from an earlier transfer is no answer", Protocol::Ymodem,
     [](StandardRig& s) { s.waiting_at_opening = {C, wire::CAN, wire::CAN, wire::CAN}; }, UploadEnd::NoStart, 0, 21,
     "within 20 s"},
    {"a request after a cancel left from before is kept", Protocol::Xmodem,
     [](StandardRig& s) { s.waiting_at_opening = {wire::CAN, wire::CAN, wire::NAK}, s.receiver.ask(wire::NAK, 15); },
     UploadEnd::Finished, 0, 1},
    {"lrzsz empties its input just after each answer", Protocol::Xmodem1k,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.empties_input_for = 0.00005;  // microseconds after it answered
     },
     UploadEnd::Finished, 0, 1},
    {"CAN CAN in the middle", Protocol::Xmodem1k,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [](const Bytes& b) {
             return b[0] == wire::STX && b[1] == 3 ? std::optional(Bytes{wire::CAN, wire::CAN}) : std::nullopt;
         };
     },
     UploadEnd::CancelledByDevice, 0, 1},
    {"one CAN alone is line noise", Protocol::Xmodem1k,
     [](StandardRig& s) { s.receiver.ask(C), answer_block_once(s, 3, {wire::CAN, wire::NAK}); }, UploadEnd::Finished, 1,
     1},
    {"CAN, other bytes, CAN is line noise, not a cancel", Protocol::Xmodem1k,
     [](StandardRig& s) { s.receiver.ask(C), answer_block_once(s, 3, {wire::CAN, 'x', 'y', wire::CAN, wire::NAK}); },
     UploadEnd::Finished, 1, 1},
    {"CAN CAN instead of a request", Protocol::Xmodem,
     [](StandardRig& s) { s.rig.clock.at(1, [&s] { s.rig.link.deliver({wire::CAN, wire::CAN}); }); },
     UploadEnd::Rejected, 0, 2},
    {"a receiver that never asks, nor says anything", Protocol::Ymodem, [](StandardRig&) {}, UploadEnd::NoStart, 0, 21,
     "If this is a device of the device protocol, choose device: nothing at all was heard \u00B7 Start the receive"},
    {"every frame NAKed", Protocol::Xmodem,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [](const Bytes&) { return std::optional(Bytes{wire::NAK}); };
     },
     UploadEnd::RetryLimit, 10, 1},
    {"the file changes length during the transfer", Protocol::Xmodem1k,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [&s](const Bytes& b) -> std::optional<Bytes> {
             if (b[0] == wire::STX && b[1] == 2) s.rig.files.resize("fw.bin", 100);
             return std::nullopt;
         };
     },
     UploadEnd::Failed, 0, 1},
    {"Stop while waiting for the request", Protocol::Xmodem,
     [](StandardRig& s) { s.rig.clock.at(3, [&s] { s.rig.form.stop_request = 1; }); }, UploadEnd::StoppedWaiting, 0, 4},
    {"Stop during the blocks", Protocol::Ymodem,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [&s](const Bytes& b) -> std::optional<Bytes> {
             if (b[0] == wire::STX && b[1] == 2) s.rig.form.stop_request = 1;
             return std::nullopt;
         };
     },
     UploadEnd::StoppedCancelSent, 0, 1},
    {"Stop during the pause before a frame", Protocol::Xmodem1k,
     [](StandardRig& s) {
         s.receiver.ask(C);
         s.receiver.script = [&s](const Bytes& b) -> std::optional<Bytes> {
             if (b[0] == wire::STX && b[1] == 2)  // its ACK comes 1 ms later
                 s.rig.clock.after(0.001 + kStandardTiming.frame_pause / 2, [&s] { s.rig.form.stop_request = 1; });
             if (b[0] == wire::STX && b[1] == 3) ADD_FAILURE() << "a frame went out after Stop";
             return std::nullopt;
         };
     },
     UploadEnd::StoppedCancelSent, 0, 1},
};
INSTANTIATE_TEST_SUITE_P(Standard, ReceiverHabits, ::testing::ValuesIn(kHabits));

TEST(StandardUpload, ARequestThatCameBeforeThePortWasOpenedIsNotDiscarded) {
    StandardRig s(Protocol::Xmodem1k);
    s.receiver.ask(C);
    ASSERT_EQ(s.run(Bytes(10, 1)).end, UploadEnd::Finished);
    const auto& ops = s.rig.link.ops();
    const auto first_read = std::find(ops.begin(), ops.end(), "Input");
    EXPECT_EQ(std::find(ops.begin(), first_read, "InBufferCount=0"), first_read);
}

TEST(StandardUpload, EndingsOfTheStandardProtocolsHaveTheirOwnExitStatusAndWords) {
    StandardRig s(Protocol::Ymodem);
    s.start_wait = 5;
    const UploadResult never = s.run(Bytes(10, 1));
    EXPECT_EQ(exit_code_for(never), exit_code::kNoStart);
    EXPECT_NE(describe_end(never).find("within 5 s"), std::string::npos) << describe_end(never);
    EXPECT_NEAR(s.rig.clock.now(), 5.0, 0.1);
    UploadResult ended;
    for (auto [end, status] : {std::pair{UploadEnd::RetryLimit, exit_code::kRetryLimit},
                               std::pair{UploadEnd::Restarted, exit_code::kRestarted}}) {
        ended.end = end;
        EXPECT_EQ(exit_code_for(ended), status);
    }
}

TEST(StandardUpload, AYmodemNameThatDoesNotFitBlockZeroIsRefusedBeforeAnythingIsSent) {
    StandardRig s(Protocol::Ymodem);
    s.receiver.ask(C);
    const std::string name(121, 'n');  // + NUL + 6 digits + NUL is one too many
    const UploadResult r = s.run(Bytes(100000, 1), name);
    EXPECT_EQ(r.end, UploadEnd::Failed);
    EXPECT_EQ(r.error_number, err::BadFileName);
    EXPECT_EQ(exit_code_for(r), exit_code::kUsage) << "refused like a bad argument, before anything was sent";
    EXPECT_TRUE(s.receiver.heard.empty());
    EXPECT_FALSE(s.rig.link.open());
    EXPECT_TRUE(ymodem_header_data(std::string(120, 'n'), 99999).has_value()) << "120 + NUL + 5 digits + NUL";

    StandardRig renamed(Protocol::Ymodem);
    renamed.receiver.ask(C);
    renamed.send_name = "short.bin";
    EXPECT_EQ(renamed.run(Bytes(100000, 1), name).end, UploadEnd::Finished);
    EXPECT_EQ(renamed.receiver.name, "short.bin");
}

TEST(StandardUpload, AnEmptyFileGoesAsYmodemsBlock0AndIsRefusedByXmodemSayingWhy) {
    StandardRig y(Protocol::Ymodem);
    y.receiver.ask(C);
    const UploadResult sent = y.run({});
    EXPECT_EQ(sent.end, UploadEnd::Finished) << describe_end(sent);
    EXPECT_EQ(y.receiver.length, "0");
    EXPECT_TRUE(y.receiver.data.empty());
    EXPECT_TRUE(y.receiver.batch_ended);

    StandardRig x(Protocol::Xmodem);
    x.receiver.ask(C);
    const UploadResult refused = x.run({});
    EXPECT_EQ(exit_code_for(refused), exit_code::kFileEmpty);
    EXPECT_NE(describe_end(refused).find("XMODEM has no way to send a file of no bytes"), std::string::npos);
    EXPECT_TRUE(x.receiver.heard.empty());
}

TEST(StandardUpload, BlockNumbersWrapFrom255To0) {
    StandardRig s(Protocol::Xmodem);
    s.receiver.ask(C);
    const Bytes image = test::random_image(300 * 128);
    ASSERT_EQ(s.run(image).end, UploadEnd::Finished);
    EXPECT_EQ(s.receiver.data, image) << "the receiver takes block 256 as number 0";
    EXPECT_EQ(s.receiver.heard[254][1], 255);
    EXPECT_EQ(s.receiver.heard[255][1], 0);
    EXPECT_EQ(s.receiver.heard[255][2], 0xFF);
}

TEST(StandardFrame, CarriesTheCheckTheReceiverAskedFor) {
    const Bytes data = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const Bytes crc = standard_frame(data, 128, 1, Check::Crc16, wire::CPMEOF);
    ASSERT_EQ(crc.size(), 133u);
    EXPECT_EQ((Bytes{crc[0], crc[1], crc[2], crc[3], crc[11], crc[12]}), (Bytes{wire::SOH, 1, 0xFE, '1', '9', 0x1A}));
    Bytes block(crc.begin() + 3, crc.begin() + 131);
    block.push_back(0);
    const auto expected = CRC16(block);
    EXPECT_EQ((Bytes{crc[131], crc[132]}), (Bytes{expected[0], expected[1]}));
    const Bytes sum = standard_frame(data, 1024, 255, Check::Sum8, wire::CPMEOF);
    ASSERT_EQ(sum.size(), 1028u);
    EXPECT_EQ(sum[0], wire::STX);
    EXPECT_EQ(sum[2], 0x00);
    EXPECT_EQ(sum.back(), static_cast<std::uint8_t>(std::accumulate(data.begin(), data.end(), 0u) + 1015u * 0x1A));
}

// ---- a receiver started at a console ----------------------------------------

TEST(ReceiverAtAConsole, TheCommandIsTypedItsWordsChooseTheProtocolAndItsReportMustBeTheFilesSize) {
    const Bytes image = test::random_image(3000);
    const struct {
        const char* name;
        std::string command;
        std::optional<Protocol> chosen;  // nullopt: the receiver's
        std::optional<std::int64_t> report;
        bool prompt;
        UploadEnd end;
        Protocol sent;
        int crc = 0;  // asked for: 1 and right, 2 and wrong
        bool stop = false;
    } rows[] = {
        {"a stop before the report", "loady", std::nullopt, std::nullopt, true, UploadEnd::StoppedAtConsole,
         Protocol::Ymodem, 0, true},
        {"loady, crc32", "loady", std::nullopt, 3000, true, UploadEnd::Finished, Protocol::Ymodem, 1},
        {"loadx padded, crc32", "loadx", std::nullopt, 3072, true, UploadEnd::Finished, Protocol::Xmodem1k, 1},
        {"a crc32 not the file's", "loady", std::nullopt, 3000, true, UploadEnd::Crc32Differs, Protocol::Ymodem, 2},
        {"loady", "loady", std::nullopt, 3000, true, UploadEnd::Finished, Protocol::Ymodem},
        {"loadx, padded", "loadx", std::nullopt, 3072, true, UploadEnd::Finished, Protocol::Xmodem1k},
        {"loadx, xmodem chosen", "loadx", Protocol::Xmodem, 3000, true, UploadEnd::Finished, Protocol::Xmodem},
        {"a size short", "loady", std::nullopt, 2999, true, UploadEnd::SizeDiffers, Protocol::Ymodem},
        {"no report", "loady", std::nullopt, std::nullopt, true, UploadEnd::SizeDiffers, Protocol::Ymodem},
        {"loadx for ymodem", "loadx", Protocol::Ymodem, 3000, true, UploadEnd::ReceiverRefused, Protocol::Ymodem},
        {"a typo", "lody", std::nullopt, 3000, true, UploadEnd::ReceiverRefused, Protocol::Ymodem},
        {"no prompt", "loady", std::nullopt, 3000, false, UploadEnd::NoPrompt, Protocol::Ymodem},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        StandardRig s(r.command == "loadx" ? Protocol::Xmodem1k : Protocol::Ymodem);  // the receiver's
        s.protocol = r.chosen.value_or(Protocol::Ymodem);
        BootConsole console(s.receiver, s.rig.link, s.rig.clock, [&s] { s.rig.form.stop_request = 1; });
        console.report = r.report;
        console.prompt = r.prompt;
        console.wrong_crc = r.crc == 2;
        console.stop_at_end = r.stop;
        if (r.crc) s.crc32 = BootConsole::checksum;
        s.command = r.command;
        s.protocol_from_receiver = !r.chosen;
        s.start_wait = 5;
        const UploadResult result = s.run(image);
        EXPECT_EQ(result.end, r.end) << describe_end(result);
        if (r.command == "lody") {
            EXPECT_EQ(result.console_words, "Unknown command 'lody' - try 'help'");
        }
        EXPECT_EQ(result.protocol, r.sent);
        EXPECT_FALSE(s.rig.link.open());
        if (r.end == UploadEnd::Finished) {
            EXPECT_EQ(s.receiver.data, StandardRig::padded(image, block_size_of(r.sent)));
            EXPECT_EQ(result.load_address, "0x02000000");
        } else if (r.end == UploadEnd::NoPrompt || r.end == UploadEnd::ReceiverRefused) {
            EXPECT_TRUE(s.receiver.data.empty() && !s.receiver.heard.empty() &&
                        std::none_of(s.receiver.heard.begin(), s.receiver.heard.end(),
                                     [](const Bytes& b) { return b.size() > 8; }))
                << "only typing and cancels went out";
        }
    }
}

TEST(ReceiverAtAConsole, CommandsAfterTheTransferRunInOrderUntilOneFails) {
    const struct {
        std::vector<std::string> then;
        UploadEnd end;
        std::string words;
        std::size_t typed;  // of the commands after the transfer
    } rows[] = {
        {{"md.b 0x02000000 4", "bootm"}, UploadEnd::Finished, "", 2},
        {{"sf probe", "md.b 0x02000000 4"}, UploadEnd::CommandFailed, "\"sf probe\" failed: it showed \"Error: no SPI flash\"", 1},
        {{"hang", "bootm"}, UploadEnd::CommandFailed, "\"hang\" did not give the prompt back", 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.then.front());
        StandardRig s(Protocol::Ymodem);
        BootConsole console(s.receiver, s.rig.link, s.rig.clock, [&s] { s.rig.form.stop_request = 1; });
        console.report = 100;
        console.answers = {{"md.b 0x02000000 4", "02000000: 25 eb 8c 48\r\n=> "},
                           {"sf probe", "Error: no SPI flash\r\n=> "},
                           {"hang", ""},
                           {"bootm", "## Booting kernel from Legacy Image at 02000000 ...\r\n"}};
        s.command = "loady";
        s.protocol_from_receiver = true;
        s.start_wait = 5;
        s.then = r.then;
        const UploadResult result = s.run(test::random_image(100));
        EXPECT_EQ(result.end, r.end) << describe_end(result);
        EXPECT_EQ(result.console_words, r.words);
        const auto typed = std::count_if(s.receiver.heard.begin(), s.receiver.heard.end(), [&](const Bytes& b) {
            return std::any_of(r.then.begin(), r.then.end(), [&](const std::string& t) { return Bytes(b) == BootConsole::as_bytes(t + "\r"); });
        });
        EXPECT_EQ(static_cast<std::size_t>(typed), r.typed);
    }
}

}  // namespace
}  // namespace vq
