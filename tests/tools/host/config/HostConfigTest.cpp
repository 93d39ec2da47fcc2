#include "ConfigReader.h"
#include "HostOptions.h"
#include "OptionBlock.h"
#include "OptionHints.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

bool read(const std::string& text, host::HostConfig& config, std::string& error) {
    std::istringstream in(text);
    return host::readConfig(in, "wand.conf", config, error);
}

std::string errorOf(const std::string& text) {
    host::HostConfig config;
    std::string error;
    EXPECT_FALSE(read(text, config, error)) << text;
    return error;
}

TEST(HostConfigReader, HostSettingsDevicesAndOptionLinesWithTheirLineNumbers) {
    host::HostConfig config;
    std::string error;
    ASSERT_TRUE(read("# logging\r\n"
                     "ShowDate off\n"
                     "showtime  no   # trailing comment\n"
                     "showthreadid 0\n"
                     "logging on\n"
                     "debuglevel 3\n"
                     "debugthreshold -2\n"
                     "shm-group cave\n"
                     "realtime 20\n"
                     "vrpn 10.0.0.5:3884\n"
                     "device wand ./quorlix.so\n"
                     "\tserialport\t/dev/ttyUSB0\n"
                     "  valrate 0.05   # ramps\n"
                     "  emulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0\n"
                     "device second quorlix\n"
                     "  debuglevel 9\n",
                     config, error))
        << error;
    EXPECT_EQ(config.fileName, "wand.conf");
    EXPECT_FALSE(config.logger.showDate);
    EXPECT_FALSE(config.logger.showTime);
    EXPECT_FALSE(config.logger.showThreadId);
    EXPECT_TRUE(config.logger.enabled);
    EXPECT_EQ(config.logger.debugLevel, 3);
    EXPECT_EQ(config.logger.debugThreshold, -2);
    EXPECT_EQ(config.shmGroup, "cave");
    EXPECT_EQ(config.realtime, 20);
    EXPECT_TRUE(config.vrpn.on);
    EXPECT_EQ(config.vrpn.address, "10.0.0.5");
    EXPECT_EQ(config.vrpn.port, 3884);
    EXPECT_EQ(config.vrpn.origin, "wand.conf:10: vrpn");
    ASSERT_EQ(config.devices.size(), 2u);
    const host::DeviceConfig& wand = config.devices[0];
    EXPECT_EQ(wand.name, "wand");
    EXPECT_EQ(wand.library, "./quorlix.so");
    EXPECT_EQ(wand.line, 11u);
    ASSERT_EQ(wand.options.size(), 3u);
    EXPECT_EQ(wand.options[0].line, 12u);
    EXPECT_EQ(wand.options[0].name, "serialport");
    EXPECT_EQ(wand.options[0].args, std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_EQ(wand.options[1].line, 13u);
    EXPECT_EQ(wand.options[2].args.size(), 8u);
    // After a device line every line is the device's, host keywords included.
    ASSERT_EQ(config.devices[1].options.size(), 1u);
    EXPECT_EQ(config.devices[1].options[0].name, "debuglevel");
    EXPECT_EQ(config.logger.debugLevel, 3);
}

TEST(HostConfigReader, BadLinesAreRefusedWithFileAndLine) {
    EXPECT_EQ(errorOf("showdate off\nverbose on\ndevice w q\n"),
              "wand.conf:2: unknown setting \"verbose\" (before the first device line only showdate, showtime, "
              "showthreadid, logging, debuglevel, debugthreshold, shm-group, realtime, osc, osc-ttl, vrpn and device are "
              "allowed)");
    EXPECT_EQ(errorOf("\n\nshowtime maybe\ndevice w q\n"), "wand.conf:3: showtime needs on or off, not \"maybe\"");
    EXPECT_EQ(errorOf("showtime\n"), "wand.conf:1: showtime needs on or off");
    EXPECT_EQ(errorOf("shm-group\n"), "wand.conf:1: shm-group needs one group name");
    EXPECT_EQ(errorOf("shm-group a b\n"), "wand.conf:1: shm-group needs one group name, not \"a b\"");
    EXPECT_EQ(errorOf("osc\n"), "wand.conf:1: osc needs one URL, e.g. osc osc.udp://render1:7770/");
    EXPECT_EQ(errorOf("osc-ttl 0\n"), "wand.conf:1: osc-ttl needs a number of hops from 1 to 255, not \"0\"");
    EXPECT_EQ(errorOf("osc osc.udp://render1/\n"),
              "wand.conf:1: osc osc.udp://render1/: needs a host and a port (1 to 65535) (for example osc.udp://render1:7770/ or "
              "osc.udp://239.255.42.1:7770/)");
    EXPECT_EQ(errorOf("vrpn 1 2\n"), "wand.conf:1: vrpn takes [[ADDR:]PORT], e.g. vrpn 3883 or vrpn 127.0.0.1:3883, not \"1 2\"");
    EXPECT_EQ(errorOf("vrpn :3883\n"),
              "wand.conf:1: vrpn takes [[ADDR:]PORT], e.g. vrpn 3883 or vrpn 127.0.0.1:3883: \":3883\": an address before "
              "the ':', or the port alone");
    EXPECT_EQ(errorOf("vrpn cave/1:3883\n"),
              "wand.conf:1: vrpn takes [[ADDR:]PORT], e.g. vrpn 3883 or vrpn 127.0.0.1:3883: \"cave/1:3883\": cave/1 is not "
              "an IPv4 address or a host name");
    EXPECT_EQ(errorOf("debuglevel 1x\n"), "wand.conf:1: debuglevel needs a whole number, not \"1x\"");
    EXPECT_EQ(errorOf("debuglevel 99999999999\n"), "wand.conf:1: debuglevel needs a whole number, not \"99999999999\"");
    EXPECT_EQ(errorOf("debugthreshold 1 2\n"), "wand.conf:1: debugthreshold needs a whole number, not \"1 2\"");
    for (const char* priority : {"0", "100", "-5", "ten", "5 6", ""})
        EXPECT_EQ(errorOf("realtime " + std::string(priority) + "\n"),
                  "wand.conf:1: realtime needs a priority from 1 to 99" +
                      (*priority ? ", not \"" + std::string(priority) + "\"" : std::string()));
    EXPECT_EQ(errorOf("device wand\n"), "wand.conf:1: a device line is \"device NAME LIBRARY\"");
    EXPECT_EQ(errorOf("device a b c\n"), "wand.conf:1: a device line is \"device NAME LIBRARY\"");
    EXPECT_EQ(errorOf("device w q\nport a\ndevice w r\n"), "wand.conf:3: device name \"w\" is already used at line 1");
    EXPECT_EQ(errorOf("device " + std::string(32, 'n') + " q\n"),
              "wand.conf:1: device name \"" + std::string(32, 'n') + "\" is longer than 31 characters");
    // Not text at all: the bytes around the first offending one, escaped.
    using namespace std::string_literals;
    EXPECT_EQ(errorOf("device w q\n\x7f" "ELF\x02\x01\x01\x00\x00 rest"s),
              "wand.conf:2: not text: \"\\x7fELF\\x02\\x01\\x01\\x00\\x00 rest\" (a configuration is a text file; is "
              "this the right file?)");
    host::HostConfig config;
    std::string error;
    EXPECT_TRUE(read("device w q\nport\t/dev/ttyUSB0 # caf\xc3\xa9\n", config, error)) << "tabs and UTF-8 are text";
    EXPECT_EQ(errorOf("# nothing here\n"),
              "wand.conf: no device line (a configuration needs at least one \"device NAME LIBRARY\")");
}

TEST(HostConfigReader, LimitsOfWhatAHostCanHandOver) {
    std::string many = "device w q\n";
    for (int i = 0; i < 33; ++i) many += "opt" + std::to_string(i) + "\n";
    EXPECT_EQ(errorOf(many), "wand.conf:34: device \"w\" has more than 32 option lines");

    std::string wide = "device w q\nlong";
    for (int i = 0; i < 65; ++i) wide += " a";
    EXPECT_EQ(errorOf(wide), "wand.conf:2: option \"long\" has more than 64 arguments");

    std::string devices;
    for (int i = 0; i < 33; ++i) devices += "device d" + std::to_string(i) + " q\n";
    EXPECT_EQ(errorOf(devices), "wand.conf:33: more than 32 devices");

    host::HostConfig config;
    std::string error;
    std::string fits = "device w q\n";
    for (int i = 0; i < 32; ++i) {
        fits += "opt" + std::to_string(i);
        for (int a = 0; a < 64; ++a) fits += " a";
        fits += "\n";
    }
    EXPECT_TRUE(read(fits, config, error)) << error;
}

TEST(HostConfigReader, MissingFileNamesTheFile) {
    host::HostConfig config;
    std::string error;
    EXPECT_FALSE(host::readConfigFile("/nonexistent/quorlix.conf", config, error));
    EXPECT_EQ(error, "/nonexistent/quorlix.conf: No such file or directory");
    EXPECT_FALSE(host::readConfigFile("/tmp", config, error));
    EXPECT_EQ(error, "/tmp: is a directory, not a configuration file");
}

TEST(HostOptionBlock, LaysOutTheLinesAsTheDeviceReadsThem) {
    host::HostConfig config;
    std::string error;
    ASSERT_TRUE(read("device wand q\nserialport /dev/x\n\nvalrate 0.05 extra\n", config, error));
    host::OptionBlock block(config.devices[0]);
    OptionList* list = block.fresh();
    ASSERT_EQ(list->entryCount, 2u);
    EXPECT_STREQ(list->deviceName, "wand");
    EXPECT_EQ(list->entries[0].lineNumber, 2u);
    EXPECT_STREQ(list->entries[0].name, "serialport");
    EXPECT_STREQ(list->entries[0].arg(1), "/dev/x");
    EXPECT_EQ(list->entries[1].lineNumber, 4u);
    EXPECT_EQ(list->entries[1].argCount, 2u);
    EXPECT_STREQ(list->entries[1].arg(2), "extra");
    EXPECT_EQ(list->entries[1].args[2], nullptr);
    // A list handed to a new device shows no line as recognised yet.
    list->entries[0].recognised = true;
    EXPECT_FALSE(block.fresh()->entries[0].recognised);
}

bool parse(std::vector<const char*> args, host::HostOptions& options, std::string& error) {
    args.insert(args.begin(), "quorlix-host");
    return host::parseHostOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(HostCommandLine, RunAndWatchFlags) {
    host::HostOptions o;
    std::string error;
    ASSERT_TRUE(parse({"my.conf", "--json", "--shm", "wand", "--keep-going", "--duration", "2.5", "--debug", "3"}, o,
                      error))
        << error;
    EXPECT_EQ(o.mode, host::HostOptions::Mode::run);
    EXPECT_EQ(o.config, "my.conf");
    EXPECT_EQ(o.view, host::HostOptions::View::json);
    EXPECT_EQ(o.shm, "wand");
    EXPECT_TRUE(o.keepGoing);
    EXPECT_DOUBLE_EQ(o.duration, 2.5);
    EXPECT_EQ(o.debugLevel, 3);

    ASSERT_TRUE(parse({"watch", "--shm", "wand", "--once", "--interval", "20"}, o, error)) << error;
    EXPECT_EQ(o.mode, host::HostOptions::Mode::watch);
    EXPECT_EQ(o.watch.shm, "wand");
    EXPECT_TRUE(o.watch.once);
    EXPECT_EQ(o.watch.intervalMs, 20);

    EXPECT_FALSE(parse({"watch"}, o, error));
    EXPECT_EQ(error, "watch needs --shm NAME");
    EXPECT_FALSE(parse({"watch", "--shm", "w", "--keep-going"}, o, error));
    EXPECT_FALSE(parse({"--json", "--plain"}, o, error));
    EXPECT_FALSE(parse({"a.conf", "b.conf"}, o, error));
    EXPECT_FALSE(parse({"a.conf", "--port", "/dev/ttyUSB0"}, o, error));
    EXPECT_FALSE(parse({"--duration", "-1"}, o, error));
    EXPECT_EQ(error, "--duration: \"-1\" is not a number of seconds (0 or more; 0: until stopped)");
    ASSERT_TRUE(parse({"watch", "--shm", "w", "--duration", "2.5"}, o, error)) << error;
    EXPECT_EQ(o.watch.duration, 2.5);
    EXPECT_FALSE(parse({"--debug", "1.5"}, o, error));
    EXPECT_FALSE(parse({"--shm"}, o, error));
    EXPECT_EQ(error, "--shm needs a value");
    for (const char* bad : {"a/b", "", "/"}) {
        EXPECT_FALSE(parse({"--shm", bad}, o, error)) << bad;
        EXPECT_EQ(error, "--shm: \"" + std::string(bad) + "\" cannot name a shared-memory object (one word, no '/' inside)");
        EXPECT_FALSE(parse({"watch", "--shm", bad}, o, error)) << bad;
    }
    ASSERT_TRUE(parse({"--shm", "w", "--shm-group", "cave", "--no-view"}, o, error)) << error;
    EXPECT_EQ(o.shmGroup, "cave");
    EXPECT_FALSE(parse({"--shm-group", "cave"}, o, error));
    EXPECT_EQ(error, "--shm-group needs --shm NAME");
    EXPECT_FALSE(parse({"watch", "--shm", "w", "--shm-group", "cave"}, o, error));
    EXPECT_FALSE(parse({"--verbose"}, o, error));
    ASSERT_TRUE(parse({"--log", "host.log"}, o, error)) << error;
    EXPECT_EQ(o.log, "host.log");
    EXPECT_FALSE(parse({"--log", ""}, o, error));
    EXPECT_EQ(error, "--log needs a file name");
}

// Each mode takes its own flags and names itself when it does not know one.
TEST(HostCommandLine, EachModeTakesItsOwnFlags) {
    struct Case {
        std::vector<const char*> args;
        const char* error;  // "" when accepted
    };
    const Case cases[] = {
        {{"watch", "--shm", "w", "--interval", "2.5", "--owner", "0", "--json"}, ""},
        {{"watch", "--shm", "w", "--osc", "osc.udp://h:1/"}, "watch: unknown option \"--osc\" (see --help)"},
        {{"watch", "--shm", "w", "my.conf"}, "watch: unknown option \"my.conf\" (see --help)"},
        {{"watch", "--shm", "w", "--interval", "0"}, "--interval: \"0\" is not a number of milliseconds from 1 to 60000"},
        {{"mirror", "--listen", "7770", "--shm", "w", "--from", "h", "--shm-group", "g", "--duration", "1"}, ""},
        {{"mirror", "--listen", "7770", "--shm", "w", "--json"}, "mirror: unknown option \"--json\" (see --help)"},
        {{"mirror", "--listen", "", "--shm", "w"}, "--listen needs a value"},
        {{"mirror", "--shm", "w"}, "mirror needs --listen PORT|URL and --shm NAME"},
        {{"mirror", "--help"}, ""},
        {{"release", "my.conf"}, ""},
        {{"release"}, "release needs a configuration file"},
        {{"release", "a.conf", "b.conf"}, "release takes one configuration file, not \"b.conf\" too"},
        {{"release", "--shm", "w", "a.conf"}, "release: unknown option \"--shm\" (see --help)"},
        {{"--realtime", "my.conf"}, ""},
        {{"--realtime", "100"}, "--realtime: \"100\" is not a priority from 1 to 99"},
        {{"--osc-ttl", "256"}, "--osc-ttl: \"256\" is not a number of hops from 1 to 255"},
        {{"--vrpn", "my.conf"}, ""},
        {{"--vrpn", "127.0.0.1:0", "my.conf"}, ""},
        {{"mirror", "--listen", "7770", "--shm", "w", "--vrpn"}, ""},
        {{"watch", "--shm", "w", "--vrpn"}, "watch: unknown option \"--vrpn\" (see --help)"},
        {{"--vrpn", "70000"}, "--vrpn \"70000\": the port is a number from 1 to 65535 (or 0: any free one)"},
        {{"--vrpn", "cave:99999"}, "--vrpn \"cave:99999\": the port is a number from 1 to 65535 (or 0: any free one)"},
        {{"--once"}, "unknown option \"--once\" (see --help)"},
        {{"--plain", "--no-view"}, "--no-view: only one of --json, --plain, --no-view"},
        {{"--port"}, "--port needs a value"},
    };
    for (const Case& c : cases) {
        host::HostOptions o;
        std::string error;
        const bool ok = parse(c.args, o, error);
        EXPECT_EQ(ok, *c.error == '\0') << c.args[0] << " " << c.args.back() << ": " << error;
        if (!ok) {
            EXPECT_EQ(error, c.error);
        }
    }
    host::HostOptions o;
    std::string error;
    ASSERT_TRUE(parse({"watch", "--shm", "w", "--interval", "2.5"}, o, error)) << error;
    EXPECT_EQ(o.watch.intervalMs, 2);
    ASSERT_TRUE(parse({"--realtime", "my.conf"}, o, error)) << error;
    EXPECT_EQ(o.realtime, 10);
    EXPECT_EQ(o.config, "my.conf");
    // --vrpn takes a port or ADDR:PORT after it, never a configuration file.
    struct Vrpn {
        std::vector<const char*> args;
        const char* address;
        int port;
        const char* config;
    };
    for (const Vrpn& v : {Vrpn{{"--vrpn", "my.conf"}, "", 3883, "my.conf"}, Vrpn{{"--vrpn", "3884"}, "", 3884, ""},
                          Vrpn{{"--vrpn", "lab:2.conf"}, "", 3883, "lab:2.conf"},
                          Vrpn{{"--vrpn", "10.0.0.1:3884", "--vrpn"}, "", 3883, ""},
                          Vrpn{{"my.conf", "--vrpn", "cavehost:3885"}, "cavehost", 3885, "my.conf"},
                          Vrpn{{"mirror", "--listen", "7770", "--shm", "w", "--vrpn", "127.0.0.1:0"}, "127.0.0.1", 0, ""}}) {
        host::HostOptions vo;
        ASSERT_TRUE(parse(v.args, vo, error)) << error;
        const host::VrpnAddress& a = vo.mode == host::HostOptions::Mode::mirror ? vo.mirror.vrpn : vo.vrpn;
        EXPECT_TRUE(a.on);
        EXPECT_EQ(a.address, v.address);
        EXPECT_EQ(a.port, v.port);
        EXPECT_EQ(vo.config, v.config);
    }
}

// The port a wand's options name is found where the wand finds it, and a
// message about it names the line that named it.
TEST(HostConfigReader, PortsAreTheDeviceFilesTheWandOpens) {
    const struct {
        const char* options;
        const char* path;
        unsigned line;
    } cases[] = {
        {"serialport /dev/ttyUSB0\n", "/dev/ttyUSB0", 2},
        {"port com1\n", "/dev/ttyS0", 2},
        {"valrate 0.1\nPort COM3\n", "/dev/ttyS2", 3},
        {"port ttyACM0\n", "/dev/ttyACM0", 2},
        {"port ./wand\n", "./wand", 2},
        {"port com0\n", "/dev/com0", 2},
        {"port comx\n", "/dev/comx", 2},
        {"port com99999999999999999999\n", "/dev/com99999999999999999999", 2},
        {"port /dev/a\nserialport /dev/b\n", "/dev/b", 3},
        {"valrate 0.1\n", "", 1},
    };
    for (const auto& c : cases) {
        host::HostConfig config;
        std::string error;
        std::istringstream in(std::string("device wand quorlix\n") + c.options);
        ASSERT_TRUE(host::readConfig(in, "w.conf", config, error)) << error;
        EXPECT_EQ(host::portDevicePath(host::configuredPort(config.devices[0])), c.path) << c.options;
        EXPECT_EQ(host::configuredPortLine(config.devices[0]), c.line) << c.options;
    }
}

TEST(HostOptionHints, ASlipOfTheKeysFindsTheOptionMeant) {
    const std::pair<const char*, const char*> names[] = {
        {"serailport", "serialport"}, {"SerialPrt", "serialport"}, {"valrat", "valrate"},
        {"emulatetraker", "emulatetracker"}, {"sensorofset", "sensoroffset"}, {"prot", "port"},
        {"baudrate", ""}, {"x", ""},
    };
    for (const auto& n : names) EXPECT_EQ(host::closestWandOption(n.first), n.second) << n.first;
}

TEST(HostOptionHints, DefaultsAUserWouldNotGuessAreNamed) {
    const struct {
        const char* options;
        std::vector<std::string> notes;
    } cases[] = {
        {"serialport /dev/ttyUSB0\nvalrate 0.1\n", {}},
        {"Port com1\nValIncrementRate 0.1\n", {}},
        {"valrate 0.1\n", {"w.conf: wand: no serialport line: the wand's default port com2 (/dev/ttyS1) is used"}},
        {"port com1\nvaldecrementrate 0.2\n",
         {"w.conf: wand: no valrate line: the valuators do not move (the wand's default rate is 0; valrate 0.1 "
          "moves one from 0 to 1 in about a second)"}},
    };
    for (const auto& c : cases) {
        host::HostConfig config;
        std::string error;
        std::istringstream in(std::string("device wand quorlix\n") + c.options);
        ASSERT_TRUE(host::readConfig(in, "w.conf", config, error)) << error;
        EXPECT_EQ(host::defaultNotes("w.conf", config.devices[0]), c.notes) << c.options;
    }
}

TEST(HostCommandLine, BuiltInConfigurationIsAValidConfiguration) {
    host::HostConfig config;
    std::string error;
    std::istringstream in(host::builtInConfig("/dev/ttyUSB0"));
    ASSERT_TRUE(host::readConfig(in, "<built-in>", config, error)) << error;
    ASSERT_EQ(config.devices.size(), 1u);
    EXPECT_EQ(config.devices[0].library, "quorlix");
    EXPECT_EQ(config.devices[0].options[0].args[0], "/dev/ttyUSB0");
    EXPECT_FALSE(config.logger.showDate);
}

}  // namespace
