#include "InteractiveKeys.h"
#include "LineSink.h"
#include "ScriptParser.h"
#include "ScriptRunner.h"
#include "SimOptions.h"
#include "WandRecord.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::Bytes;
using sim::Duration;
using sim::Step;
using namespace std::chrono_literals;

sim::Script parseOk(const std::string& text) {
    sim::Script script;
    sim::ParseError error;
    EXPECT_TRUE(sim::parseScript(text, script, error)) << "line " << error.line << ": " << error.what;
    return script;
}

sim::ParseError parseFails(const std::string& text) {
    sim::Script script;
    sim::ParseError error;
    EXPECT_FALSE(sim::parseScript(text, script, error)) << text;
    EXPECT_TRUE(script.empty());
    return error;
}

sim::ButtonSet buttons(std::initializer_list<int> numbers) {
    sim::ButtonSet set;
    for (int n : numbers) set.add(n);
    return set;
}

TEST(SimScriptParser, ReadsEveryCommand) {
    sim::Script s = parseOk(
        "press 8\n"
        "press 1 10   # two more\n"
        "release 1\n"
        "release\n"
        "hold 10 11 for 2s\n"
        "wait 100ms\n"
        "text OK then\n"
        "raw 80 0x01 10 8f\n"
        "unplug\n"
        "PLUG\n");
    ASSERT_EQ(s.size(), 10u);
    EXPECT_EQ(s[0].kind, Step::Kind::press);
    EXPECT_TRUE(s[0].buttons == buttons({8}));
    EXPECT_TRUE(s[1].buttons == buttons({1, 10}));
    EXPECT_EQ(s[2].kind, Step::Kind::release);
    EXPECT_FALSE(s[2].allButtons);
    EXPECT_TRUE(s[3].allButtons);
    EXPECT_EQ(s[4].kind, Step::Kind::hold);
    EXPECT_TRUE(s[4].buttons == buttons({10, 11}));
    EXPECT_EQ(s[4].duration, Duration(2s));
    EXPECT_EQ(s[5].duration, Duration(100ms));
    EXPECT_EQ(s[6].bytes, (Bytes{0x82, 'O', 'K', ' ', 't', 'h', 'e', 'n', 0xFC}));
    EXPECT_EQ(s[7].bytes, (Bytes{0x80, 0x01, 0x10, 0x8F}));
    EXPECT_EQ(s[8].kind, Step::Kind::unplug);
    EXPECT_EQ(s[9].kind, Step::Kind::plug);
    EXPECT_EQ(s[9].line, 10u);
}

TEST(SimScriptParser, InlineStatementsNestedRepeatsAndQuotes) {
    sim::Script s = parseOk("repeat 3 { press 1; repeat 2 { wait 5ms }; release }; text \"a;b  # c\"");
    ASSERT_EQ(s.size(), 2u);
    ASSERT_EQ(s[0].kind, Step::Kind::repeat);
    EXPECT_EQ(s[0].count, 3u);
    ASSERT_EQ(s[0].body.size(), 3u);
    EXPECT_EQ(s[0].body[1].kind, Step::Kind::repeat);
    EXPECT_EQ(s[0].body[1].body.size(), 1u);
    Bytes text;
    sim::textRecord("a;b  # c", text);
    EXPECT_EQ(s[1].bytes, text);

    sim::Script multi = parseOk("repeat 2\n{\n  press 3\n}\n\n# done\n");
    ASSERT_EQ(multi.size(), 1u);
    EXPECT_EQ(multi[0].body.size(), 1u);
    EXPECT_TRUE(parseOk("").empty());
    EXPECT_TRUE(parseOk("# only a comment\n;;\n").empty());
}

TEST(SimScriptParser, DurationsAndTheirLimits) {
    Duration d{};
    EXPECT_TRUE(sim::parseDuration("1.5s", d));
    EXPECT_EQ(d, Duration(1500ms));
    EXPECT_TRUE(sim::parseDuration("250us", d));
    EXPECT_EQ(d, Duration(250));
    EXPECT_TRUE(sim::parseDuration("0ms", d));
    EXPECT_EQ(d, Duration(0));
    EXPECT_TRUE(sim::parseDuration("100MS", d));
    for (const char* bad : {"5", "-1s", "1h", "ms", "", "1.2.3s", "100000s", "nan s"})
        EXPECT_FALSE(sim::parseDuration(bad, d)) << bad;
    EXPECT_EQ(parseOk("wait 2 s")[0].duration, Duration(2s));
}

TEST(SimScriptParser, ErrorsNameTheLine) {
    struct Case {
        const char* text;
        unsigned line;
        const char* fragment;
    };
    const Case cases[] = {
        {"press 1\njump 3\n", 2, "unknown command \"jump\""},
        {"press 12", 1, "no button \"12\""},
        {"press 0", 1, "no button \"0\""},
        {"press", 1, "at least one button"},
        {"press x", 1, "no button \"x\""},
        {"\n\nwait", 3, "needs a time"},
        {"wait 5", 1, "not a time"},
        {"hold 3 2s", 1, "hold 10 for 2s"},
        {"hold for 2s", 1, "hold 10 for 2s"},
        {"raw 80 1G", 1, "\"1G\" is not a hex byte"},
        {"raw 800", 1, "not a hex byte"},
        {"raw", 1, "needs hex bytes"},
        {"text", 1, "needs the text"},
        {"text \"open", 1, "unterminated"},
        {"repeat 2 press 1", 1, "needs a block"},
        {"repeat 2 {\npress 1\n", 1, "no closing"},
        {"repeat x { }", 1, "count from 0"},
        {"repeat 1000001 { }", 1, "count from 0"},
        {"press 1\n}", 2, "'}' without"},
        {"{ press 1 }", 1, "'{' without repeat"},
        {"unplug now", 1, "takes no arguments"},
    };
    for (const Case& c : cases) {
        sim::ParseError error = parseFails(c.text);
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.what.find(c.fragment), std::string::npos) << c.text << " gave: " << error.what;
    }
    std::string deep;
    for (int i = 0; i < 20; ++i) deep += "repeat 1 { ";
    EXPECT_NE(parseFails(deep).what.find("too deep"), std::string::npos);
}

// Records what a script would put on the line.
class RecordingSink : public sim::ScriptSink {
public:
    struct Event {
        char kind;  // 's' send, 'p' pause, 'u' unplug, 'g' plug
        Bytes bytes;
        Duration duration{0};
    };

    bool send(const Bytes& bytes) override {
        events.push_back({'s', bytes, {}});
        return sendsLeft < 0 || sendsLeft-- > 0;
    }
    bool pause(Duration duration) override {
        events.push_back({'p', {}, duration});
        return true;
    }
    bool unplug() override {
        events.push_back({'u', {}, {}});
        return true;
    }
    bool plug() override {
        events.push_back({'g', {}, {}});
        return true;
    }

    std::vector<Event> events;
    int sendsLeft = -1;
};

TEST(SimScriptRunner, PressAddsReleaseRemovesAndHoldReleasesOnlyItsButtons) {
    RecordingSink sink;
    sim::ScriptRunner runner(sink);
    ASSERT_TRUE(runner.run(parseOk("press 1; press 8; hold 10 for 2s; release 1; release")));
    std::vector<Bytes> sent;
    std::vector<Duration> pauses;
    for (const auto& e : sink.events) {
        if (e.kind == 's') sent.push_back(e.bytes);
        if (e.kind == 'p') pauses.push_back(e.duration);
    }
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0], sim::keyRecord(buttons({1})));
    EXPECT_EQ(sent[1], sim::keyRecord(buttons({1, 8})));
    EXPECT_EQ(sent[2], sim::keyRecord(buttons({1, 8, 10})));
    EXPECT_EQ(sent[3], sim::keyRecord(buttons({1, 8})));
    EXPECT_EQ(sent[4], sim::keyRecord(buttons({8})));
    EXPECT_EQ(sent[5], sim::keyRecord(buttons({})));
    EXPECT_EQ(pauses, std::vector<Duration>{Duration(2s)});
    EXPECT_EQ(sink.events[3].kind, 'p');  // the pause sits between the hold's press and release
    EXPECT_EQ(runner.counts().records, 6u);
}

TEST(SimScriptRunner, RepeatsRawBytesAndLineEvents) {
    RecordingSink sink;
    sim::ScriptRunner runner(sink);
    ASSERT_TRUE(runner.run(parseOk("repeat 3 { press 2; release }; raw 80 8F; repeat 0 { press 5 }; unplug; plug")));
    ASSERT_EQ(sink.events.size(), 9u);
    EXPECT_EQ(sink.events[6].bytes, (Bytes{0x80, 0x8F}));
    EXPECT_EQ(sink.events[7].kind, 'u');
    EXPECT_EQ(sink.events[8].kind, 'g');
    // Raw bytes are counted as bytes; only what the runner framed counts as records.
    EXPECT_EQ(runner.counts().records, 6u);
    EXPECT_EQ(runner.counts().bytes, 3u * (4 + 2) + 2);
}

TEST(SimScriptRunner, StopsAtTheFirstFailedWriteAndNamesItsLine) {
    RecordingSink sink;
    sink.sendsLeft = 2;
    sim::ScriptRunner runner(sink);
    EXPECT_FALSE(runner.run(parseOk("press 1\nrepeat 5 {\n  press 2\n  release\n}\npress 3")));
    EXPECT_EQ(sink.events.size(), 3u);
    EXPECT_EQ(runner.failedLine(), 4u);
    EXPECT_EQ(runner.counts().records, 2u);
}

TEST(SimScriptRunner, KeysToggleButtons) {
    RecordingSink sink;
    sim::ScriptRunner runner(sink);
    EXPECT_TRUE(runner.toggle(3));
    EXPECT_TRUE(runner.toggle(11));
    EXPECT_TRUE(runner.toggle(3));
    EXPECT_FALSE(runner.toggle(12));
    EXPECT_TRUE(runner.held() == buttons({11}));
    EXPECT_TRUE(runner.sendText("OK"));
    EXPECT_TRUE(runner.releaseAll());
    ASSERT_EQ(sink.events.size(), 5u);
    EXPECT_EQ(sink.events[2].bytes, sim::keyRecord(buttons({11})));
    EXPECT_EQ(sink.events[3].bytes, (Bytes{0x82, 'O', 'K', 0xFC}));
    EXPECT_EQ(sink.events[4].bytes, sim::keyRecord(buttons({})));

    EXPECT_EQ(sim::keyAction('0').button, 10);
    EXPECT_EQ(sim::keyAction('-').button, 11);
    EXPECT_EQ(sim::keyAction('7').kind, sim::KeyAction::Kind::toggle);
    EXPECT_EQ(sim::keyAction(' ').kind, sim::KeyAction::Kind::releaseAll);
    EXPECT_EQ(sim::keyAction('\x03').kind, sim::KeyAction::Kind::quit);
    EXPECT_EQ(sim::keyAction('z').kind, sim::KeyAction::Kind::none);
}

bool parseArgs(std::vector<const char*> args, sim::SimOptions& options, std::string& error) {
    args.insert(args.begin(), "quorlix-sim");
    return sim::parseSimOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(SimOptions, ModesRatesAndRefusals) {
    sim::SimOptions o;
    std::string error;
    ASSERT_TRUE(parseArgs({"-e", "press 1", "-e", "release", "--pace", "9600", "--link", "/tmp/w", "--stay"}, o, error));
    EXPECT_EQ(o.mode, sim::SimOptions::Mode::inline_);
    EXPECT_EQ(o.source, "press 1\nrelease");
    EXPECT_EQ(o.pace, 9600);
    EXPECT_EQ(o.link, "/tmp/w");
    EXPECT_TRUE(o.stay);
    ASSERT_TRUE(parseArgs({"--demo", "--pace", "off", "--linger", "500ms", "--no-wait"}, o, error));
    EXPECT_EQ(o.pace, 0);
    EXPECT_EQ(o.linger.count(), 500);
    EXPECT_FALSE(o.waitForHost);

    ASSERT_TRUE(parseArgs({"--raw", "bytes.bin", "--pace", "9600"}, o, error));
    EXPECT_EQ(o.mode, sim::SimOptions::Mode::raw);
    EXPECT_EQ(o.source, "bytes.bin");
    ASSERT_TRUE(parseArgs({"--replay", "wand.qs"}, o, error));
    EXPECT_EQ(o.mode, sim::SimOptions::Mode::replay);

    EXPECT_FALSE(parseArgs({"--demo", "--script", "x"}, o, error));
    EXPECT_NE(error.find("only one of"), std::string::npos);
    EXPECT_FALSE(parseArgs({"--replay", "wand.qs", "--raw", "wand.qs"}, o, error));
    EXPECT_EQ(error, "--raw: only one of --script, -e, --demo, --interactive, --replay, --raw, --forward");
    EXPECT_FALSE(parseArgs({"--pace", "fast"}, o, error));
    EXPECT_FALSE(parseArgs({"--pace", "0"}, o, error));
    EXPECT_FALSE(parseArgs({"--script"}, o, error));
    EXPECT_EQ(error, "--script needs a value");
    EXPECT_FALSE(parseArgs({"--frobnicate"}, o, error));
    EXPECT_FALSE(parseArgs({"--port", "/dev/ttyS0", "--link", "/tmp/x"}, o, error));
    // The help names the line --replay looks for.
    EXPECT_NE(std::string(sim::kSimUsage).find(sim::kCaptureHeader), std::string::npos);
}

}  // namespace
