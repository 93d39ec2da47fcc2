#include "ScriptParser.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

constexpr std::uint32_t kMaxRepeat = 1000000;
constexpr unsigned kMaxDepth = 16;
// A day: longer waits are typing mistakes, not scripts.
constexpr double kMaxSeconds = 86400.0;

struct Token {
    enum class Kind { word, end, open, close, eof };
    Kind kind;
    std::string text;
    unsigned line;
    bool quoted = false;
};

class Lexer {
public:
    explicit Lexer(const std::string& text) : text_(text) {}

    bool next(Token& token, ParseError& error) {
        for (;;) {
            if (pos_ >= text_.size()) {
                token = {Token::Kind::eof, "", line_};
                return true;
            }
            char c = text_[pos_];
            if (c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
                continue;
            }
            if (c == '\n' || c == ';') {
                token = {Token::Kind::end, "", line_};
                if (c == '\n') ++line_;
                ++pos_;
                return true;
            }
            if (c == '{' || c == '}') {
                token = {c == '{' ? Token::Kind::open : Token::Kind::close, std::string(1, c), line_};
                ++pos_;
                return true;
            }
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
                continue;
            }
            if (c == '"') return quoted(token, error);
            std::size_t start = pos_;
            while (pos_ < text_.size()) {
                char d = text_[pos_];
                if (std::isspace(static_cast<unsigned char>(d)) || d == ';' || d == '{' || d == '}' || d == '#' ||
                    d == '"')
                    break;
                ++pos_;
            }
            token = {Token::Kind::word, text_.substr(start, pos_ - start), line_};
            return true;
        }
    }

private:
    bool quoted(Token& token, ParseError& error) {
        unsigned line = line_;
        std::string value;
        ++pos_;
        while (pos_ < text_.size() && text_[pos_] != '"' && text_[pos_] != '\n') {
            if (text_[pos_] == '\\' && pos_ + 1 < text_.size() && (text_[pos_ + 1] == '"' || text_[pos_ + 1] == '\\'))
                ++pos_;
            value += text_[pos_++];
        }
        if (pos_ >= text_.size() || text_[pos_] != '"') {
            error = {line, "unterminated quoted text"};
            return false;
        }
        ++pos_;
        token = {Token::Kind::word, value, line, true};
        return true;
    }

    const std::string& text_;
    std::size_t pos_ = 0;
    unsigned line_ = 1;
};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool parseWhole(const std::string& text, unsigned long long limit, unsigned long long& out) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > limit) return false;
    out = value;
    return true;
}

bool parseHexByte(std::string text, std::uint8_t& out) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    if (text.empty() || text.size() > 2) return false;
    unsigned value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                       ? c - '0'
                                                       : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    out = static_cast<std::uint8_t>(value);
    return true;
}

class Parser {
public:
    explicit Parser(const std::string& text) : lexer_(text) {}

    bool parse(Script& script, ParseError& error) {
        if (!advance(error)) return false;
        if (!statements(script, 0, error)) return false;
        if (current_.kind == Token::Kind::close) return fail(error, current_.line, "'}' without a repeat block");
        return true;
    }

private:
    bool advance(ParseError& error) { return lexer_.next(current_, error); }

    static bool fail(ParseError& error, unsigned line, std::string what) {
        error = {line, std::move(what)};
        return false;
    }

    // Statements up to a '}' or the end of the text.
    bool statements(Script& script, unsigned depth, ParseError& error) {
        for (;;) {
            while (current_.kind == Token::Kind::end)
                if (!advance(error)) return false;
            if (current_.kind == Token::Kind::eof || current_.kind == Token::Kind::close) return true;
            if (current_.kind == Token::Kind::open) return fail(error, current_.line, "'{' without repeat");
            Step step;
            if (!statement(step, depth, error)) return false;
            script.push_back(std::move(step));
        }
    }

    // The words of one statement after its command.
    bool arguments(std::vector<Token>& args, ParseError& error) {
        while (current_.kind == Token::Kind::word) {
            args.push_back(current_);
            if (!advance(error)) return false;
        }
        return true;
    }

    bool buttons(const std::vector<Token>& args, std::size_t from, std::size_t to, Step& step, ParseError& error) {
        for (std::size_t i = from; i < to; ++i) {
            unsigned long long n = 0;
            if (!parseWhole(args[i].text, kButtonCount, n) || n == 0)
                return fail(error, args[i].line,
                            "no button \"" + args[i].text + "\" (buttons are 1 to " + std::to_string(kButtonCount) +
                                ")");
            step.buttons.add(static_cast<int>(n));
        }
        return true;
    }

    bool duration(const std::vector<Token>& args, std::size_t from, const std::string& command, Step& step,
                  ParseError& error, unsigned line) {
        std::string text;
        for (std::size_t i = from; i < args.size(); ++i) text += args[i].text;
        if (from >= args.size()) return fail(error, line, command + " needs a time, e.g. 100ms or 2s");
        if (args.size() - from > 2 || !parseDuration(text, step.duration))
            return fail(error, line, command + ": \"" + text + "\" is not a time (e.g. 100ms or 2s)");
        return true;
    }

    bool statement(Step& step, unsigned depth, ParseError& error) {
        Token command = current_;
        step.line = command.line;
        if (!advance(error)) return false;
        std::vector<Token> args;
        if (!arguments(args, error)) return false;
        const std::string name = lower(command.text);
        const unsigned line = command.line;

        if (name == "press") {
            step.kind = Step::Kind::press;
            if (args.empty()) return fail(error, line, "press needs at least one button number");
            return buttons(args, 0, args.size(), step, error) && finish(error);
        }
        if (name == "release") {
            step.kind = Step::Kind::release;
            step.allButtons = args.empty();
            return buttons(args, 0, args.size(), step, error) && finish(error);
        }
        if (name == "hold") {
            step.kind = Step::Kind::hold;
            std::size_t forAt = 0;
            while (forAt < args.size() && lower(args[forAt].text) != "for") ++forAt;
            if (forAt == 0 || forAt == args.size())
                return fail(error, line, "hold needs buttons and a time: hold 10 for 2s");
            return buttons(args, 0, forAt, step, error) && duration(args, forAt + 1, "hold", step, error, line) &&
                   finish(error);
        }
        if (name == "wait") {
            step.kind = Step::Kind::wait;
            return duration(args, 0, "wait", step, error, line) && finish(error);
        }
        if (name == "text") {
            step.kind = Step::Kind::text;
            if (args.empty()) return fail(error, line, "text needs the text to send");
            std::string text;
            for (std::size_t i = 0; i < args.size(); ++i) text += (i ? " " : "") + args[i].text;
            if (!textRecord(text, step.bytes)) return fail(error, line, "text may not hold the bytes 8F or FC");
            return finish(error);
        }
        if (name == "raw") {
            step.kind = Step::Kind::raw;
            if (args.empty()) return fail(error, line, "raw needs hex bytes, e.g. raw 80 01 10 8F");
            for (const Token& arg : args) {
                std::uint8_t byte = 0;
                if (!parseHexByte(arg.text, byte))
                    return fail(error, arg.line, "raw: \"" + arg.text + "\" is not a hex byte");
                step.bytes.push_back(byte);
            }
            return finish(error);
        }
        if (name == "repeat") {
            step.kind = Step::Kind::repeat;
            unsigned long long count = 0;
            if (args.empty() || !parseWhole(args[0].text, kMaxRepeat, count))
                return fail(error, line, "repeat needs a count from 0 to " + std::to_string(kMaxRepeat));
            if (args.size() > 1) return fail(error, line, "repeat needs a block: repeat 3 { ... }");
            step.count = static_cast<std::uint32_t>(count);
            if (depth + 1 >= kMaxDepth) return fail(error, line, "repeat blocks nested too deep");
            while (current_.kind == Token::Kind::end)
                if (!advance(error)) return false;
            if (current_.kind != Token::Kind::open) return fail(error, line, "repeat needs a block: repeat 3 { ... }");
            if (!advance(error)) return false;
            if (!statements(step.body, depth + 1, error)) return false;
            if (current_.kind != Token::Kind::close) return fail(error, line, "repeat block has no closing '}'");
            return advance(error);
        }
        if (name == "unplug" || name == "plug") {
            step.kind = name == "unplug" ? Step::Kind::unplug : Step::Kind::plug;
            if (!args.empty()) return fail(error, line, name + " takes no arguments");
            return finish(error);
        }
        return fail(error, line, "unknown command \"" + command.text + "\"");
    }

    // A statement ends at a line end, ';', '}' or the end of the text.
    bool finish(ParseError& error) {
        if (current_.kind == Token::Kind::open) return fail(error, current_.line, "'{' without repeat");
        return true;
    }

    Lexer lexer_;
    Token current_{Token::Kind::eof, "", 1};
};

}  // namespace

bool parseDuration(const std::string& text, Duration& out) {
    std::size_t unitAt = 0;
    while (unitAt < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[unitAt])) || text[unitAt] == '.'))
        ++unitAt;
    if (unitAt == 0) return false;
    std::string number = text.substr(0, unitAt);
    std::string unit = lower(text.substr(unitAt));
    char* end = nullptr;
    double value = std::strtod(number.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) return false;
    double seconds;
    if (unit == "s") seconds = value;
    else if (unit == "ms") seconds = value / 1e3;
    else if (unit == "us") seconds = value / 1e6;
    else return false;
    if (seconds < 0 || seconds > kMaxSeconds) return false;
    out = Duration(static_cast<Duration::rep>(std::llround(seconds * 1e6)));
    return true;
}

bool parseScript(const std::string& text, Script& script, ParseError& error) {
    script.clear();
    Parser parser(text);
    if (parser.parse(script, error)) return true;
    script.clear();
    return false;
}

}  // namespace sim
