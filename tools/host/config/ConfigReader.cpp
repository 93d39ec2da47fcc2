#include "ConfigReader.h"

#include "OscUrl.h"
#include "RealtimePriority.h"
#include "VisibleText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace host {

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> words(const std::string& line) {
    std::string text = line.substr(0, line.find('#'));
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) out.push_back(word);
    return out;
}

bool parseSwitch(const std::string& text, bool& out) {
    std::string w = lower(text);
    if (w == "on" || w == "yes" || w == "true" || w == "1") out = true;
    else if (w == "off" || w == "no" || w == "false" || w == "0") out = false;
    else return false;
    return true;
}

bool parseLevel(const std::string& text, std::int32_t& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    out = static_cast<std::int32_t>(value);
    return true;
}

// Where a line stops being text (a control byte other than a tab, or bytes
// that are not UTF-8), npos when it is all text.
std::size_t firstNonText(const std::string& line) {
    for (std::size_t at = 0; at < line.size();) {
        if (line[at] == '\t') {
            ++at;
            continue;
        }
        std::size_t length = printableAt(line, at);
        if (length == 0) return at;
        at += length;
    }
    return std::string::npos;
}

class Reader {
public:
    Reader(const std::string& fileName, HostConfig& config) : fileName_(fileName), config_(config) {}

    bool line(unsigned number, const std::string& text) {
        number_ = number;
        std::size_t bad = firstNonText(text);
        if (bad != std::string::npos) {
            // Escaped, and only around the first such byte: a binary file
            // must not fill the terminal.
            std::size_t from = bad > 8 ? bad - 8 : 0;
            return fail("not text: \"" + visibleText(text.substr(from, 24)) +
                        "\" (a configuration is a text file; is this the right file?)");
        }
        std::vector<std::string> w = words(text);
        if (w.empty()) return true;
        const std::string keyword = lower(w[0]);
        if (keyword == "device") return device(w);
        if (!config_.devices.empty()) return option(w);
        return setting(keyword, w);
    }

    bool finish() {
        if (config_.devices.empty()) {
            error_ = fileName_ + ": no device line (a configuration needs at least one \"device NAME LIBRARY\")";
            return false;
        }
        return true;
    }

    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& what) {
        error_ = fileName_ + ":" + std::to_string(number_) + ": " + what;
        return false;
    }

    bool device(const std::vector<std::string>& w) {
        if (w.size() != 3) return fail("a device line is \"device NAME LIBRARY\"");
        if (w[1].size() > kMaxDeviceName)
            return fail("device name \"" + w[1] + "\" is longer than " + std::to_string(kMaxDeviceName) +
                        " characters");
        for (const DeviceConfig& d : config_.devices)
            if (d.name == w[1])
                return fail("device name \"" + w[1] + "\" is already used at line " + std::to_string(d.line));
        if (config_.devices.size() == kMaxDevices)
            return fail("more than " + std::to_string(kMaxDevices) + " devices");
        DeviceConfig d;
        d.name = w[1];
        d.library = w[2];
        d.line = number_;
        config_.devices.push_back(d);
        return true;
    }

    bool option(const std::vector<std::string>& w) {
        DeviceConfig& d = config_.devices.back();
        if (d.options.size() == kMaxOptionLines)
            return fail("device \"" + d.name + "\" has more than " + std::to_string(kMaxOptionLines) +
                        " option lines");
        if (w.size() - 1 > kMaxOptionArgs)
            return fail("option \"" + w[0] + "\" has more than " + std::to_string(kMaxOptionArgs) + " arguments");
        OptionLine o;
        o.line = number_;
        o.name = w[0];
        o.args.assign(w.begin() + 1, w.end());
        d.options.push_back(o);
        return true;
    }

    bool setting(const std::string& keyword, const std::vector<std::string>& w) {
        LoggerSettings& s = config_.logger;
        bool* flag = keyword == "showdate"       ? &s.showDate
                     : keyword == "showtime"     ? &s.showTime
                     : keyword == "showthreadid" ? &s.showThreadId
                     : keyword == "logging"      ? &s.enabled
                                                 : nullptr;
        if (flag != nullptr) {
            if (w.size() != 2 || !parseSwitch(w[1], *flag))
                return fail(keyword + " needs on or off" + (w.size() > 1 ? ", not \"" + joined(w) + "\"" : ""));
            return true;
        }
        std::int32_t* level = keyword == "debuglevel"       ? &s.debugLevel
                              : keyword == "debugthreshold" ? &s.debugThreshold
                                                            : nullptr;
        if (level != nullptr) {
            if (w.size() != 2 || !parseLevel(w[1], *level))
                return fail(keyword + " needs a whole number" + (w.size() > 1 ? ", not \"" + joined(w) + "\"" : ""));
            return true;
        }
        if (keyword == "shm-group") {
            if (w.size() != 2) return fail("shm-group needs one group name" + (w.size() > 2 ? ", not \"" + joined(w) + "\"" : ""));
            config_.shmGroup = w[1];
            config_.shmGroupLine = number_;
            return true;
        }
        if (keyword == "realtime") {
            if (w.size() != 2 || !parseRealtimePriority(w[1], config_.realtime))
                return fail("realtime needs a priority from " + std::to_string(kRealtimeLowest) + " to " +
                            std::to_string(kRealtimeHighest) + (w.size() > 1 ? ", not \"" + joined(w) + "\"" : ""));
            return true;
        }
        if (keyword == "osc") {
            if (w.size() != 2) return fail("osc needs one URL, e.g. osc osc.udp://render1:7770/");
            const std::string problem = oscUrlProblem(w[1]);
            if (!problem.empty()) return fail("osc " + problem);
            config_.osc.push_back({number_, w[1]});
            return true;
        }
        if (keyword == "vrpn") {
            std::string problem;
            if (w.size() > 2 || !parseVrpnAddress(w.size() == 2 ? w[1] : "", config_.vrpn, problem))
                return fail("vrpn takes [[ADDR:]PORT], e.g. vrpn 3883 or vrpn 127.0.0.1:3883" +
                            (problem.empty() ? ", not \"" + joined(w) + "\"" : ": " + problem));
            config_.vrpn.origin = fileName_ + ":" + std::to_string(number_) + ": vrpn";
            return true;
        }
        if (keyword == "osc-ttl") {
            std::int32_t ttl = 0;
            if (w.size() != 2 || !parseLevel(w[1], ttl) || ttl < 1 || ttl > 255)
                return fail("osc-ttl needs a number of hops from 1 to 255" +
                            (w.size() > 1 ? ", not \"" + joined(w) + "\"" : ""));
            config_.oscTtl = ttl;
            return true;
        }
        return fail("unknown setting \"" + w[0] +
                    "\" (before the first device line only showdate, showtime, showthreadid, logging, "
                    "debuglevel, debugthreshold, shm-group, realtime, osc, osc-ttl, vrpn and device are allowed)");
    }

    static std::string joined(const std::vector<std::string>& w) {
        std::string text;
        for (std::size_t i = 1; i < w.size(); ++i) text += (i > 1 ? " " : "") + w[i];
        return text;
    }

    std::string fileName_;
    HostConfig& config_;
    unsigned number_ = 0;
    std::string error_;
};

}  // namespace

bool readConfig(std::istream& in, const std::string& fileName, HostConfig& config, std::string& error) {
    HostConfig read;
    read.fileName = fileName;
    Reader reader(fileName, read);
    std::string text;
    unsigned number = 0;
    while (std::getline(in, text)) {
        ++number;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (!reader.line(number, text)) {
            error = reader.error();
            return false;
        }
    }
    if (in.bad()) {
        error = fileName + ": read error";
        return false;
    }
    if (!reader.finish()) {
        error = reader.error();
        return false;
    }
    config = std::move(read);
    return true;
}

bool readConfigFile(const std::string& path, HostConfig& config, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = path + ": is a directory, not a configuration file";
        return false;
    }
    std::ifstream in(path);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return readConfig(in, path, config, error);
}

}  // namespace host
