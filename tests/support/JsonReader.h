#pragma once
// A small strict JSON reader for tests that check the tool's output. Parsing fails (returns
// false) on anything that is not one complete JSON value.

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarvo::test {

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    bool isNull() const { return kind == Null; }
    const JsonValue& operator[](size_t i) const { return items.at(i); }
    const JsonValue& operator[](const std::string& key) const { return members.at(key); }
    bool has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonReader {
public:
    static bool parse(const std::string& text, JsonValue& out) {
        JsonReader reader(text);
        reader.skipSpace();
        if (!reader.readValue(out)) return false;
        reader.skipSpace();
        return reader.pos_ == text.size();
    }

private:
    explicit JsonReader(const std::string& text) : s_(text) {}

    void skipSpace() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    bool take(char c) {
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool word(const char* w, JsonValue& out, JsonValue::Kind kind, bool b) {
        const std::string expected(w);
        if (s_.compare(pos_, expected.size(), expected) != 0) return false;
        pos_ += expected.size();
        out.kind = kind;
        out.boolean = b;
        return true;
    }
    bool readString(std::string& out) {
        if (!take('"')) return false;
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size()) return false;
            const char e = s_[pos_++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                if (pos_ + 4 > s_.size()) return false;
                out += static_cast<char>(std::strtol(s_.substr(pos_, 4).c_str(), nullptr, 16));
                pos_ += 4;
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool readValue(JsonValue& out) {
        skipSpace();
        if (pos_ >= s_.size()) return false;
        const char c = s_[pos_];
        if (c == 'n') return word("null", out, JsonValue::Null, false);
        if (c == 't') return word("true", out, JsonValue::Bool, true);
        if (c == 'f') return word("false", out, JsonValue::Bool, false);
        if (c == '"') {
            out.kind = JsonValue::String;
            return readString(out.text);
        }
        if (c == '[') {
            ++pos_;
            out.kind = JsonValue::Array;
            if (take(']')) return true;
            do {
                out.items.emplace_back();
                if (!readValue(out.items.back())) return false;
            } while (take(','));
            return take(']');
        }
        if (c == '{') {
            ++pos_;
            out.kind = JsonValue::Object;
            if (take('}')) return true;
            do {
                std::string key;
                if (!readString(key) || !take(':')) return false;
                if (!readValue(out.members[key])) return false;
            } while (take(','));
            return take('}');
        }
        const char* start = s_.c_str() + pos_;
        char* end = nullptr;
        out.number = std::strtod(start, &end);
        if (end == start) return false;
        out.kind = JsonValue::Number;
        pos_ += static_cast<size_t>(end - start);
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
};

} // namespace tarvo::test
