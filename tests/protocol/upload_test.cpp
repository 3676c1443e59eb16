#include "protocol/upload.h"
#include "protocol/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "protocol/failure.h"
#include "protocol/upload_rig.h"

namespace vq {
namespace {

using test::UploadRig;
using Messages = std::vector<std::string>;

std::vector<double> gaps(const std::vector<double>& times) {
    std::vector<double> out;
    for (std::size_t i = 1; i < times.size(); ++i) out.push_back(times[i] - times[i - 1]);
    return out;
}

void expect_all_near(const std::vector<double>& values, double expected, const char* what) {
    for (std::size_t i = 0; i < values.size(); ++i)
        ASSERT_NEAR(values[i], expected, 2e-3) << what << " #" << i;
}

// ---- every way an upload can end -------------------------------------------

struct EndCase {
    const char* name;
    std::function<void(UploadRig&)> arrange;
    std::size_t image_size;
    UploadEnd end;
    Messages messages;
    bool cleaned_up;  // "Text4" holds a single space and the bar is 0
    bool port_open_after;
    bool sends_nothing = false;
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }


class UploadEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(UploadEnds, ShowTheirMessageAndLeaveTheDisplaysAndThePortAsTheyShouldWhateverThePace) {
    for (Pace pace : {Pace::Fixed, Pace::Reply}) {
    SCOPED_TRACE(pace == Pace::Fixed ? "fixed pacing" : "paced by replies");
    const EndCase& c = GetParam();
    sim::DeviceBehaviour none;
    UploadRig rig(none);
    rig.pace = pace;
    if (c.arrange) c.arrange(rig);
    UploadResult result;
    if (c.image_size == 0 && std::string(c.name) == "empty path box")
        result = rig.run_named("", "fw.bin");
    else
        result = rig.run(test::random_image(c.image_size));

    EXPECT_EQ(result.end, c.end) << to_string(result.end);
    EXPECT_EQ(rig.messages.shown, c.messages);
    if (c.cleaned_up) {
        EXPECT_EQ(rig.displays.percent_text, " ");
        EXPECT_EQ(rig.displays.progress, 0.0f);
    } else {
        EXPECT_EQ(rig.displays.percent_text, "");
    }
    EXPECT_EQ(rig.link.open(), c.port_open_after);
    EXPECT_EQ(rig.device.sent.empty(), c.sends_nothing);
    EXPECT_EQ(rig.files.open_files(), 0) << "the image file is closed in every case";
    EXPECT_EQ(rig.form.reply_code, kNoAnswer);
    }
}

void behave(UploadRig& rig, sim::DeviceBehaviour b) { rig.device.receiver = sim::Receiver(b); }

INSTANTIATE_TEST_SUITE_P(
    EveryEnd, UploadEnds,
    ::testing::Values(
        EndCase{"empty path box", [](UploadRig& r) { r.link.set_port(1, test::PortKind::Opens); r.link.setPortOpen(true); },
                0, UploadEnd::NoFileChosen, {}, true, false, true},
        EndCase{"invalid port", [](UploadRig& r) { r.port_choice = "COM10"; }, 100, UploadEnd::InvalidPort,
                {"Invalid Serial Port", "Serial port is invalid!"}, false, false, true},
        EndCase{"port held", [](UploadRig& r) { r.link.set_port(1, test::PortKind::Held); }, 100,
                UploadEnd::PortUnavailable, {"Serial port is using!"}, false, false, true},
        EndCase{"rejected", [](UploadRig& r) { behave(r, sim::DeviceBehaviour{.reject_wakeups = true}); }, 100,
                UploadEnd::Rejected, {"Sending Request is Rejected"}, true, false},
        EndCase{"cancelled", [](UploadRig& r) { behave(r, sim::DeviceBehaviour{.cancel_at_block = 2}); }, 4000,
                UploadEnd::CancelledByDevice, {"Sending Cancelled!"}, true, false},
        EndCase{"NAK limit, cancel acknowledged",
                [](UploadRig& r) { behave(r, sim::DeviceBehaviour{.nak_block = 2, .nak_sends = 10}); }, 4000,
                UploadEnd::NakLimit, {}, true, false},
        EndCase{"NAK limit, cancel unanswered",
                [](UploadRig& r) {
                    behave(r, sim::DeviceBehaviour{.nak_block = 1, .nak_sends = 10, .ack_cancel = false});
                },
                4000, UploadEnd::NakLimitNoAck, {}, true, false},
        EndCase{"finished", nullptr, 4096, UploadEnd::Finished, {"Sending Finished!"}, true, false},
        EndCase{"end of transmission unanswered",
                [](UploadRig& r) { behave(r, sim::DeviceBehaviour{.never_ack_eot = true}); }, 4096,
                UploadEnd::NoEotAck, {}, true, false},
        EndCase{"empty file", nullptr, 0, UploadEnd::Failed, {}, true, false, true},
        EndCase{"link lost",
                [](UploadRig& r) {
                    r.device.script = [&r](const test::Sent& s, int) -> std::optional<std::vector<std::uint8_t>> {
                        if (s.kind() == wire::STX && s.frame[1] == 4) r.link.vanish();
                        return std::nullopt;
                    };
                },
                8000, UploadEnd::Failed, {}, true, false}),
    [](const auto& p) {
        std::string name = p.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(Upload, MissingFileShowsFileNotExisitsKeepsThePortOpenAndCreatesNothing) {
    UploadRig rig;
    const UploadResult result = rig.run_named("missing.bin", "missing.bin");
    EXPECT_EQ(result.end, UploadEnd::FileNotFound);
    EXPECT_EQ(result.error_number, err::PathFileAccess);
    EXPECT_EQ(rig.messages.shown, Messages{"File Not Exisits!"});
    EXPECT_TRUE(rig.link.open());
    EXPECT_EQ(rig.displays.percent_text, "");
    EXPECT_FALSE(rig.files.exists("missing.bin"));

    // The next press with an empty path box closes the port it left open.
    EXPECT_EQ(rig.run_named("", "missing.bin").end, UploadEnd::NoFileChosen);
    EXPECT_FALSE(rig.link.open());
}

TEST(Upload, SendsTheDialogsFileNotThePathBoxText) {
    UploadRig rig;
    const auto image = test::random_image(1500, 3);
    rig.files.put("chosen.bin", image);
    EXPECT_EQ(rig.run_named("something else entirely", "chosen.bin").end, UploadEnd::Finished);
    EXPECT_EQ(rig.received(1500), image);
}

TEST(Upload, TheWakeUpOfASecondUploadIsAAFollowedBy1029Zeros) {
    UploadRig rig;
    ASSERT_EQ(rig.run(test::random_image(3000)).end, UploadEnd::Finished);
    const std::size_t second = rig.device.sent.size();
    ASSERT_EQ(rig.run(test::random_image(3000, 2)).end, UploadEnd::Finished);
    const auto& wake = rig.device.sent.at(second).frame;
    EXPECT_EQ(wake[0], wire::WAKE);
    EXPECT_TRUE(std::all_of(wake.begin() + 1, wake.end(), [](auto b) { return b == 0; }));
}

TEST(Upload, DeliversTheImageByteForByteWithTheFillOnItsLastBlock) {
    UploadRig rig;
    const auto image = test::random_image(5000, 11);
    ASSERT_EQ(rig.run(image).end, UploadEnd::Finished);
    const auto& got = rig.device.receiver.images().at(0);
    ASSERT_EQ(got.size(), 5 * 1024u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), got.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + 5000, got.end(), [](auto b) { return b == 0xFF; }));
    for (const auto& s : rig.device.sent) ASSERT_EQ(s.frame[1029], 0x00);
}

TEST(Upload, StartsEveryUploadWithoutAStopRequestAndTakesAPathOfSpacesAsAChoice) {
    const struct {
        const char* what;
        std::string path_text;
        std::int16_t stop_request_before;
    } rows[] = {
        {"a Stop left from the end of the last transfer", "fw.bin", 1},
        {"a path box of spaces", "   ", 0},
    };
    for (const auto& r : rows) {
        UploadRig rig;
        rig.files.put("fw.bin", test::random_image(3000));
        rig.form.stop_request = r.stop_request_before;
        EXPECT_EQ(rig.run_named(r.path_text, "fw.bin").end, UploadEnd::Finished) << r.what;
    }
}

TEST(Upload, WhileAnEndingsBoxIsOpenTheBarAndPercentageShowWhatTheyShowedBefore) {
    const struct {
        const char* box;
        sim::DeviceBehaviour behaviour;
        std::string text4;
        float bar;
    } rows[] = {
        {"Sending Finished!", {}, "100%", 100},
        {"Sending Cancelled!", sim::DeviceBehaviour{.cancel_at_block = 2}, "50%", 50},
        {"Sending Request is Rejected", sim::DeviceBehaviour{.reject_wakeups = true}, "", 0},
    };
    for (const auto& r : rows) {
        UploadRig rig(r.behaviour);
        std::string text4 = "?";
        float bar = -1;
        rig.messages.on_show = [&](const std::string&) { text4 = rig.displays.percent_text, bar = rig.displays.progress; };
        rig.run(test::random_image(4096));
        EXPECT_EQ(rig.messages.shown, std::vector<std::string>{r.box});
        EXPECT_EQ(text4, r.text4) << r.box;
        EXPECT_EQ(bar, r.bar) << r.box;
    }
}

TEST(Upload, ANakBuildsTheFrameAgainAndRestartsItsSendsAndItsProgress) {
    UploadRig rig;
    // Block 1: two sends unanswered, a NAK, then ten more unanswered.
    int data = 0;
    rig.device.script = [&](const test::Sent& s, int) -> std::optional<std::vector<std::uint8_t>> {
        if (s.kind() != wire::STX || ++data > 13) return std::nullopt;
        return data == 3 ? std::vector<std::uint8_t>{wire::NAK} : std::vector<std::uint8_t>{};
    };
    ASSERT_EQ(rig.run(test::random_image(4096)).end, UploadEnd::Finished);
    EXPECT_EQ(rig.timeline.builds, (std::vector<std::int32_t>{0, 0, 0, 1, 2, 3}))
        << "built first, after the NAK, and after the ten sends that followed it";
    EXPECT_EQ(rig.displays.percentages(), (std::vector<std::string>{"25%", "25%", "25%", "50%", "75%", "100%"}));
    EXPECT_EQ(rig.device.data_frames().size(), 14u + 3u);
}

TEST(Upload, AfterTheNakLimitTheCountIsZeroBeforeTheFirstCancelGoesOut) {
    UploadRig rig(sim::DeviceBehaviour{.nak_block = 1, .nak_sends = 10});
    std::optional<std::int16_t> count_at_cancel;
    rig.device.script = [&](const test::Sent& s, int) -> std::optional<std::vector<std::uint8_t>> {
        if (s.kind() == wire::CAN && !count_at_cancel) count_at_cancel = rig.form.nak_count;
        return std::nullopt;
    };
    EXPECT_EQ(rig.run(test::random_image(2048)).end, UploadEnd::NakLimit);
    EXPECT_EQ(count_at_cancel, std::int16_t{0});
}

// Answers that come after their read are taken for the next block: the
// device, which wants the block before, then refuses every send of it, with
// silent reads between that clear the NAK count. Ten refusals of one block
// end the upload as the NAK limit does, and say why.
TEST(Upload, ADeviceThatAnswersLaterThanTheWaitAndRefusesABlockOnceEndsAtTheNakLimit) {
    // Answers 150 ms late, and every n-th 250 ms: patterns that left each
    // pacing resending for ever.
    const struct {
        Pace pace;
        int every;
    } rows[] = {{Pace::Fixed, 4}, {Pace::Reply, 5}};
    for (const auto& r : rows) {
        UploadRig rig(sim::DeviceBehaviour{.nak_block = 3, .nak_sends = 1});
        rig.device.script = [&](const test::Sent&, int index) -> std::optional<std::vector<std::uint8_t>> {
            rig.device.latency = index % r.every == r.every - 1 ? 0.25 : 0.15;
            return std::nullopt;
        };
        rig.pace = r.pace;
        const UploadResult result = rig.run(test::random_image(8192));
        EXPECT_TRUE(result.end == UploadEnd::NakLimit || result.end == UploadEnd::NakLimitNoAck) << pace_word(r.pace);
        EXPECT_TRUE(result.answers_late) << pace_word(r.pace);
        EXPECT_NE(describe_end(result).find("answers come later than the wait"), std::string::npos);
    }
}

// Refusals broken by a silent read or a byte that means nothing start the
// count again, and the block goes on being sent until it is taken: answers
// that come on time are no evidence of late ones.
TEST(Upload, TenRefusalsOfABlockBrokenBySilenceOrNoiseAreNoNakLimit) {
    for (const std::optional<std::uint8_t> between : {std::optional<std::uint8_t>{}, std::optional<std::uint8_t>{'x'}}) {
        SCOPED_TRACE(between ? "noise" : "silence");
        UploadRig rig;
        int sends = 0;
        rig.device.script = [&](const test::Sent& sent, int) -> std::optional<std::vector<std::uint8_t>> {
            if (sent.kind() != wire::STX || sent.frame[1] != 2) return std::nullopt;
            ++sends;
            if (sends == 6) return between ? std::vector<std::uint8_t>{*between} : std::vector<std::uint8_t>{};
            if (sends <= 11) return std::vector<std::uint8_t>{wire::NAK};
            return std::nullopt;  // taken
        };
        const UploadResult result = rig.run(test::random_image(3000));
        EXPECT_EQ(result.end, UploadEnd::Finished) << describe_end(result);
        EXPECT_EQ(sends, 12);
        EXPECT_FALSE(result.answers_late);
    }
}

TEST(Upload, AStopDuringTheBlocksCancelsWithTheFrameJustBuiltForTheNextBlock) {
    UploadRig rig;
    const auto image = test::random_image(40000, 4);
    rig.clock.at(1.23, [&] { rig.form.stop_request = 1; });
    ASSERT_EQ(rig.run(image).end, UploadEnd::StoppedAcked);
    const auto& last_data = rig.device.data_frames().back()->frame;
    const auto& cancel = rig.device.sent.back().frame;
    ASSERT_EQ(cancel[0], wire::CAN);
    FrameBuffers next;
    next.build(image, static_cast<std::int64_t>(image.size()), std::int64_t{last_data[1]} * 1024, static_cast<std::uint8_t>(last_data[1] + 1));
    EXPECT_TRUE(std::equal(cancel.begin() + 1, cancel.end(), next.frame().begin() + 1))
        << "block " << last_data[1] + 1 << "'s frame, built but never sent";
}

TEST(Upload, AStopWhileWaitingForTheStartIsSeenBeforeACancelReadAtTheSamePoll) {
    UploadRig rig(sim::DeviceBehaviour{.never_start = true});
    rig.clock.at(35.05, [&] {
        rig.form.stop_request = 1;
        rig.link.deliver({wire::CAN});
    });
    EXPECT_EQ(rig.run(test::random_image(100)).end, UploadEnd::StoppedWaiting);
    EXPECT_TRUE(rig.messages.shown.empty());
}

// ---- what the other end gives away, without a change on the wire ------------

TEST(Upload, AConsoleThatEchoesAndABootloaderThatAsksUnwokenAreNamedFirstInTheEnding) {
    const auto answer_nothing = [](const test::Sent&, int) { return std::optional(std::vector<std::uint8_t>{}); };
    const struct {
        const char* name;
        sim::DeviceBehaviour behaviour;
        std::function<void(UploadRig&)> arrange;
        UploadEnd end;
        Hint hint;
    } cases[] = {
        {"a console echoes every wake-up", {.never_start = true},
         [](UploadRig& rig) {
             rig.device.script = [](const test::Sent& sent, int) {
                 return std::optional(std::vector<std::uint8_t>{sent.kind()});
             };
             rig.clock.at(40, [&rig] { rig.form.stop_request = 1; });
         },
         UploadEnd::StoppedWaiting, Hint::Echoes},
        {"a 'C' waits before the first wake-up", {},
         [](UploadRig& rig) { rig.clock.at(0.2, [&rig] { rig.link.deliver({wire::START}); }); }, UploadEnd::Finished,
         Hint::AskedUnwoken},
        {"U-Boot's loady: asked unwoken, then ACK to EOT and a request for the next file", {},
         [](UploadRig& rig) {
             rig.clock.at(0.2, [&rig] { rig.link.deliver({wire::START}); });
             rig.device.script = [&rig](const test::Sent& sent, int) -> std::optional<std::vector<std::uint8_t>> {
                 if (sent.kind() != wire::EOT) return std::nullopt;
                 rig.clock.after(2.0, [&rig] { rig.link.deliver({wire::START}); });
                 return std::vector<std::uint8_t>{wire::ACK, wire::START};  // this C goes with the ACK's read
             };
         },
         UploadEnd::Restarted, Hint::AskedUnwoken},
        {"a 'C' only in the polls, after 101 wake-ups that got no answer", {},
         [&](UploadRig& rig) {
             rig.device.script = answer_nothing;
             rig.clock.at(31.5, [&rig] { rig.link.deliver({wire::START}), rig.device.script = nullptr; });
         },
         UploadEnd::Finished, Hint::AskedUnwoken},
        {"a device that asks when woken", {}, [](UploadRig&) {}, UploadEnd::Finished, Hint::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UploadRig rig(c.behaviour);
        c.arrange(rig);
        const UploadResult r = rig.run(test::random_image(3000));
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.hint, c.hint);
        if (c.hint != Hint::None) {
            EXPECT_EQ(describe_end(r).rfind(hint_words(c.hint), 0), 0u) << describe_end(r);
        }
    }
}

// ---- timings ----------------------------------------------------------------

TEST(Upload, WakesASilentDevice101TimesThenPollsWithoutSending) {
    UploadRig rig(sim::DeviceBehaviour{.never_start = true});
    rig.clock.at(60.0, [&] { rig.form.stop_request = 1; });
    const UploadResult result = rig.run(test::random_image(100));

    EXPECT_EQ(result.end, UploadEnd::StoppedWaiting);
    const auto wakes = rig.device.times_of(wire::WAKE);
    ASSERT_EQ(wakes.size(), 101u);
    EXPECT_EQ(rig.device.sent.size(), 101u) << "nothing but wake-ups is sent";
    EXPECT_NEAR(wakes.front(), 0.5, 1e-3);
    expect_all_near(gaps(wakes), 0.3, "wake-up gap");

    // Polls: the reads after the last wake-up come every 0.1 s.
    std::vector<double> polls;
    for (const auto& r : rig.timeline.reads)
        if (r.time > wakes.back() + 1e-9) polls.push_back(r.time);
    ASSERT_GT(polls.size(), 100u);
    EXPECT_NEAR(polls.front() - wakes.back(), 0.4, 2e-3) << "the 0.3 s pause, then the first poll";
    expect_all_near(gaps(polls), 0.1, "poll gap");
    EXPECT_EQ(rig.displays.percent_text, " ");
    EXPECT_FALSE(rig.link.open());
}

TEST(Upload, AStartRequestReadLateCostsOneMoreWakeUp) {
    UploadRig rig;
    rig.device.latency = 0.001;  // the reply comes after the read that follows the wake-up
    ASSERT_EQ(rig.run(test::random_image(100)).end, UploadEnd::Finished);
    EXPECT_EQ(rig.device.count(wire::WAKE), 2);

    UploadRig prompt;
    prompt.device.latency = 0;  // already there when the read comes
    prompt.device.script = [](const test::Sent& s, int) -> std::optional<std::vector<std::uint8_t>> {
        if (s.kind() == wire::WAKE) return std::vector<std::uint8_t>{wire::START};
        return std::nullopt;
    };
    prompt.link.on_output = [&, inner = prompt.link.on_output](std::span<const std::uint8_t> b) {
        inner(b);
        prompt.clock.advance_to(prompt.clock.now());  // deliver what is due now
    };
    ASSERT_EQ(prompt.run(test::random_image(100)).end, UploadEnd::Finished);
    EXPECT_EQ(prompt.device.count(wire::WAKE), 1);
}

TEST(Upload, AStartRequestDuringThePauseAfterTheLastWakeUpIsReadByTheFirstPoll) {
    UploadRig rig(sim::DeviceBehaviour{.ignore_wakeups = 100});
    ASSERT_EQ(rig.run(test::random_image(100)).end, UploadEnd::Finished);
    EXPECT_EQ(rig.device.count(wire::WAKE), 101);
    const double last_wake = rig.device.times_of(wire::WAKE).back();
    const double first_block = rig.device.times_of(wire::STX).front();
    EXPECT_NEAR(first_block - last_wake, 0.4, 2e-3);
}

TEST(Upload, ACancelDuringTheWakeUpsIsIgnored) {
    UploadRig rig(sim::DeviceBehaviour{.ignore_wakeups = 2});
    rig.device.script = [](const test::Sent& s, int index) -> std::optional<std::vector<std::uint8_t>> {
        if (s.kind() == wire::WAKE && index < 2) return std::vector<std::uint8_t>{wire::CAN};
        return std::nullopt;
    };
    EXPECT_EQ(rig.run(test::random_image(100)).end, UploadEnd::Finished);
}

TEST(Upload, NineNaksThenAnAckSendTheBlockTenTimesAndGoOn) {
    UploadRig rig(sim::DeviceBehaviour{.nak_block = 1, .nak_sends = 9});
    ASSERT_EQ(rig.run(test::random_image(2048)).end, UploadEnd::Finished);
    const auto frames = rig.device.data_frames();
    ASSERT_EQ(frames.size(), 11u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(frames[static_cast<std::size_t>(i)]->frame[1], 1);
    EXPECT_EQ(frames[10]->frame[1], 2);
    EXPECT_EQ(rig.device.count(wire::CAN), 0);
}

TEST(Upload, TenNaksInARowSendTenCancels005SecondsApartWithoutAMessage) {
    UploadRig rig(sim::DeviceBehaviour{.nak_block = 1, .nak_sends = 10, .ack_cancel = false});
    const UploadResult result = rig.run(test::random_image(2048));
    EXPECT_EQ(result.end, UploadEnd::NakLimitNoAck);
    EXPECT_EQ(rig.device.data_frames().size(), 10u);
    const auto cancels = rig.device.times_of(wire::CAN);
    ASSERT_EQ(cancels.size(), 10u);
    expect_all_near(gaps(cancels), 0.05, "cancel gap");
    EXPECT_TRUE(rig.messages.shown.empty());
    EXPECT_EQ(rig.form.nak_count, 0);
    // A cancel carries the rest of the frame built last.
    const auto frames = rig.device.data_frames();
    const auto& cancel = rig.device.sent.back().frame;
    EXPECT_TRUE(std::equal(cancel.begin() + 1, cancel.end(), frames.back()->frame.begin() + 1));
}

TEST(Upload, EndsOfTransmissionGoTenTimes01SecondsApartWhenUnanswered) {
    UploadRig rig(sim::DeviceBehaviour{.never_ack_eot = true});
    EXPECT_EQ(rig.run(test::random_image(3000)).end, UploadEnd::NoEotAck);
    const auto eots = rig.device.times_of(wire::EOT);
    ASSERT_EQ(eots.size(), 10u);
    expect_all_near(gaps(eots), 0.1, "EOT gap");
    EXPECT_TRUE(rig.messages.shown.empty());
    const auto& last = rig.device.sent.back().frame;
    const auto& last_block = rig.device.data_frames().back()->frame;
    EXPECT_TRUE(std::equal(last.begin() + 1, last.end(), last_block.begin() + 1))
        << "an end of transmission carries the rest of the last data frame";
}

TEST(Upload, ASilentDeviceGetsEachBuildTenTimesThenTheSameFrameBuiltAgain) {
    UploadRig rig(sim::DeviceBehaviour{.silent_to_data = true});
    rig.clock.at(5.0, [&] { rig.form.stop_request = 1; });
    const UploadResult result = rig.run(test::random_image(4096));
    EXPECT_EQ(result.end, UploadEnd::StoppedAcked);

    const auto frames = rig.device.data_frames();
    ASSERT_GE(frames.size(), 30u);
    for (const auto* f : frames) ASSERT_EQ(f->frame, frames.front()->frame) << "number and offset never move";
    const std::size_t builds = rig.timeline.builds.size();
    EXPECT_EQ(builds, (frames.size() + 9) / 10 + 1) << "one build per ten sends, then the stop's";
    const auto shown = rig.displays.percentages();
    EXPECT_EQ(shown, std::vector<std::string>(shown.size(), "25%"));
    EXPECT_EQ(shown.size(), builds - 1);
    expect_all_near(gaps(rig.device.times_of(wire::STX)), 0.1, "resend gap");
}

TEST(Upload, SlowRepliesLeadToResendsAndTheUploadStillCompletes) {
    UploadRig rig;
    rig.device.latency = 0.15;  // after the 0.1 s reading window
    const auto image = test::random_image(6000, 5);
    EXPECT_EQ(rig.run(image).end, UploadEnd::Finished);
    EXPECT_EQ(rig.received(image.size()), image);
}

// ---- progress ---------------------------------------------------------------

TEST(Upload, ShowsThePercentageOfEachBlockAsAFloatRatioRoundedDown) {
    const struct { std::size_t size; std::vector<std::string> shown; } rows[] = {
        {4096, {"25%", "50%", "75%", "100%"}},
        {3200, {"31%", "63%", "95%", "100%"}},
        {3000, {"34%", "68%", "100%"}},
        {1025, {"99%", "100%"}},
        {1, {"100%"}},
    };
    for (const auto& r : rows) {
        UploadRig rig;
        ASSERT_EQ(rig.run(test::random_image(r.size)).end, UploadEnd::Finished) << r.size;
        EXPECT_EQ(rig.displays.percentages(), r.shown) << r.size;
        EXPECT_EQ(rig.device.count(wire::EOT), 1) << r.size;
        EXPECT_EQ(rig.displays.text_history.front(), "") << "empty while the upload starts";
        EXPECT_EQ(rig.displays.percent_text, " ");
        std::vector<float> bar(rig.displays.progress_history.begin() + 1, rig.displays.progress_history.end() - 1);
        std::vector<float> expected;
        for (const auto& s : r.shown) expected.push_back(std::stof(s));
        EXPECT_EQ(bar, expected) << r.size;
    }
}

TEST(Upload, BlockNumbersWrapToZeroAfter255) {
    UploadRig rig;
    const auto image = test::random_image(257 * 1024 + 10, 8);
    ASSERT_EQ(rig.run(image).end, UploadEnd::Finished);
    const auto frames = rig.device.data_frames();
    ASSERT_EQ(frames.size(), 258u);
    EXPECT_EQ(frames[254]->frame[1], 255);
    EXPECT_EQ(frames[255]->frame[1], 0);
    EXPECT_EQ(frames[255]->frame[2], 0xFF);
    EXPECT_EQ(frames[256]->frame[1], 1);
    EXPECT_EQ(rig.received(image.size()), image);
}

// ---- stop -------------------------------------------------------------------

TEST(Upload, StopActsWithinASecondInEveryPhase) {
    struct Case {
        const char* phase;
        sim::DeviceBehaviour behaviour;
        double stop_at;
        UploadEnd end;
        Messages messages;
    };
    const Case cases[] = {
        {"wake-up", sim::DeviceBehaviour{.never_start = true}, 3.0, UploadEnd::StoppedWaiting, {}},
        {"waiting for start", sim::DeviceBehaviour{.never_start = true}, 40.0, UploadEnd::StoppedWaiting, {}},
        {"blocks, device acknowledges", {}, 1.2, UploadEnd::StoppedAcked, {"Sending Finised!"}},
        {"blocks, device silent", sim::DeviceBehaviour{.ack_cancel = false}, 1.2, UploadEnd::StoppedNoAck, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phase);
        UploadRig rig(c.behaviour);
        rig.clock.at(c.stop_at, [&] { rig.form.stop_request = 1; });
        std::string text4_at_message = "?";
        rig.messages.on_show = [&](const std::string&) { text4_at_message = rig.displays.percent_text; };
        const UploadResult result = rig.run(test::random_image(40000));
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(rig.messages.shown, c.messages);
        EXPECT_LT(rig.clock.now() - c.stop_at, 1.25) << "the upload ends soon after the stop";
        EXPECT_EQ(rig.form.stop_request, 0);
        EXPECT_FALSE(rig.link.open());
        EXPECT_EQ(rig.displays.percent_text, " ");
        if (!c.messages.empty()) {
            EXPECT_EQ(text4_at_message, "") << "the percentage is cleared before the box";
        }
        if (c.end == UploadEnd::StoppedNoAck) {
            const auto cancels = rig.device.times_of(wire::CAN);
            ASSERT_EQ(cancels.size(), 10u);
            expect_all_near(gaps(cancels), 0.1, "stop cancel gap");
        }
    }
}

TEST(Upload, StopDuringAPauseBeforeAWakeUpSendsNoFurtherWakeUp) {
    // Wake-ups go out at 0.5 s, 0.8 s, 1.1 s, ...
    const struct { double stop_at; int wake_ups; } rows[] = {{0.3, 0}, {0.6, 1}, {0.95, 2}};
    for (const auto& r : rows) {
        UploadRig rig(sim::DeviceBehaviour{.never_start = true});
        rig.clock.at(r.stop_at, [&] { rig.form.stop_request = 1; });
        EXPECT_EQ(rig.run(test::random_image(100)).end, UploadEnd::StoppedWaiting) << r.stop_at;
        EXPECT_EQ(rig.device.count(wire::WAKE), r.wake_ups) << r.stop_at;
    }
}

// ---- paced by replies -------------------------------------------------------

TEST(ReplyPacing, AWaitEndsWhenTheAnswerArrivesAndNoLaterThanItsFixedTime) {
    const struct {
        const char* what;
        sim::DeviceBehaviour behaviour;
        std::uint8_t kind;
        double gap;
    } rows[] = {
        {"an ACK after 3 ms", {}, wire::STX, 0.003},
        {"no answer to the EOT", sim::DeviceBehaviour{.never_ack_eot = true}, wire::EOT, 0.1},
        {"no start request", sim::DeviceBehaviour{.ignore_wakeups = 5}, wire::WAKE, 0.3},
    };
    for (const auto& r : rows) {
        UploadRig rig(r.behaviour);
        rig.pace = Pace::Reply;
        rig.device.latency = 0.003;
        rig.run(test::random_image(5000));
        const auto times = rig.device.times_of(r.kind);
        ASSERT_GE(times.size(), 3u) << r.what;
        for (double gap : gaps(times)) ASSERT_NEAR(gap, r.gap, 1e-4) << r.what;
    }
}

TEST(ReplyPacing, AMissedAnswerOrTwoRefusalsInARowGoBackToFixedPacingForGood) {
    const struct {
        const char* why;
        sim::DeviceBehaviour behaviour;
        bool lose_first_answer_to_block_3;
    } rows[] = {
        {"block 3 went unanswered", {}, true},
        {"block 2 was refused twice in a row", sim::DeviceBehaviour{.nak_block = 2, .nak_sends = 2}, false},
    };
    for (const auto& r : rows) {
        UploadRig rig(r.behaviour);
        rig.pace = Pace::Reply;
        rig.device.latency = 0.003;
        if (r.lose_first_answer_to_block_3)
            rig.device.script = [lost = false](const test::Sent& s, int) mutable -> std::optional<std::vector<std::uint8_t>> {
                if (s.kind() != wire::STX || s.frame[1] != 3 || lost) return std::nullopt;
                lost = true;
                return std::vector<std::uint8_t>{};
            };
        const UploadResult result = rig.run(test::random_image(8000));
        EXPECT_EQ(result.end, UploadEnd::Finished) << r.why;
        EXPECT_EQ(result.pace, Pace::Fixed) << r.why;
        EXPECT_EQ(rig.timeline.pacing, (std::vector<std::string>{"requested", r.why}));
        const auto blocks = rig.device.times_of(wire::STX);
        EXPECT_NEAR(blocks.back() - blocks[blocks.size() - 2], 0.1, 1e-3) << r.why << ": fixed pacing to the end";
    }
}

TEST(ReplyPacing, ANakWhileWaitingForTheStartThenOneRefusalOfBlock1KeepsThePace) {
    UploadRig rig(sim::DeviceBehaviour{.nak_block = 1, .nak_sends = 1, .never_start = true});
    rig.pace = Pace::Reply;
    rig.clock.at(30.95, [&] { rig.link.deliver({wire::NAK}); });  // between two polls for the start
    rig.clock.at(31.25, [&] { rig.link.deliver({wire::START}); });
    const UploadResult result = rig.run(test::random_image(3000));
    EXPECT_EQ(result.end, UploadEnd::Finished);
    EXPECT_EQ(result.pace, Pace::Reply);
    EXPECT_EQ(rig.timeline.pacing, std::vector<std::string>{"requested"});
}

TEST(ReplyPacing, AByteThatArrivedBeforeATransmissionDoesNotAnswerIt) {
    UploadRig rig;
    rig.pace = Pace::Reply;
    // The first wake-up is answered with noise, the second not at all, the
    // third with the start request; a stray 'C' arrives before the second.
    rig.device.script = [](const test::Sent& s, int index) -> std::optional<std::vector<std::uint8_t>> {
        if (s.kind() != wire::WAKE || index > 1) return std::nullopt;
        return index == 0 ? std::vector<std::uint8_t>{0x55} : std::vector<std::uint8_t>{};
    };
    rig.clock.at(0.7, [&] { rig.link.deliver({wire::START}); });
    ASSERT_EQ(rig.run(test::random_image(100)).end, UploadEnd::Finished);
    EXPECT_EQ(rig.device.count(wire::WAKE), 3);
}

// ---- failures ---------------------------------------------------------------

TEST(Upload, AFileThatChangesLengthEndsTheUploadInsteadOfSendingAMixture) {
    for (std::size_t new_size : {std::size_t{1000}, std::size_t{9000}, std::size_t{0}}) {
        UploadRig rig;
        rig.clock.at(1.0, [&] { rig.files.resize("fw.bin", new_size); });
        const UploadResult result = rig.run(test::random_image(6000));
        EXPECT_EQ(result.end, UploadEnd::Failed) << new_size;
        EXPECT_TRUE(rig.messages.shown.empty());
        EXPECT_FALSE(rig.link.open());
        EXPECT_TRUE(rig.device.receiver.images().empty()) << "no end of transmission was sent";
    }
}

TEST(Upload, AFileWhoseLastOffsetDoesNotFit32BitsFailsBeforeAnythingIsSentAndOneThatJustFitsDoesNot) {
    constexpr std::int64_t kTwoGiB = std::int64_t{1} << 31;
    UploadRig edge;
    edge.files.put("edge.bin", {1, 2, 3});
    edge.files.fake_length("edge.bin", kTwoGiB - 1024);
    EXPECT_NE(edge.run_named("edge.bin", "edge.bin").error_number, err::Overflow) << "the largest that fits";
    for (std::int64_t length : {kTwoGiB - 1023, kTwoGiB - 1, kTwoGiB, 3 * kTwoGiB / 2}) {
        UploadRig rig;
        rig.files.put("huge.bin", {1, 2, 3});
        rig.files.fake_length("huge.bin", length);
        const UploadResult result = rig.run_named("huge.bin", "huge.bin");
        EXPECT_EQ(result.end, UploadEnd::Failed) << length;
        EXPECT_EQ(result.error_number, err::Overflow) << length;
        EXPECT_TRUE(rig.device.sent.empty()) << length;
    }
}

TEST(Upload, AFailureInsideTheCleanUpIsContained) {
    UploadRig rig;
    rig.clock.at(1.0, [&] {
        rig.link.vanish();
        rig.link.fail("PortOpen?", err::ReadFailed);
    });
    const UploadResult result = rig.run(test::random_image(5000));
    EXPECT_EQ(result.end, UploadEnd::Failed);
    EXPECT_TRUE(result.cleanup_failed);
    EXPECT_EQ(rig.displays.percent_text, " ");
    EXPECT_EQ(rig.files.open_files(), 0);
}

TEST(Upload, NaksDuringThePollForTheStartRequestSaturateTheCountInsteadOfFailing) {
    UploadRig rig(sim::DeviceBehaviour{.never_start = true});
    rig.link.set_recording(false);
    rig.clock.set_budget(4000);
    // The wake-ups end at 30.5 s and the polls come every 0.1 s from 30.9 s:
    // one NAK arrives between each two polls, 32800 in all, then the start
    // request.
    int naks = 0;
    std::function<void()> send_nak = [&] {
        if (++naks <= 32800) {
            rig.link.deliver({wire::NAK});
            rig.clock.after(0.1, send_nak);
            return;
        }
        EXPECT_EQ(rig.form.nak_count, 32767);
        rig.link.deliver({wire::START});
    };
    rig.clock.at(30.95, send_nak);
    EXPECT_EQ(rig.run(test::random_image(3000)).end, UploadEnd::Finished);
    EXPECT_GT(naks, 32800);
}

TEST(ProgressPercent, CountsTheBlockAboutToGoAsDone) {
    EXPECT_EQ(progress_percent(0, 4096), 25);
    EXPECT_EQ(progress_percent(0, 3200), 31);
    EXPECT_EQ(progress_percent(2048, 3000), 100);
    EXPECT_EQ(progress_percent(0, 100), 100);
}

}  // namespace
}  // namespace vq
