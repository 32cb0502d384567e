#pragma once
// A small streaming JSON writer for the tool's output: values are appended in order and
// commas are placed automatically.

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace tarvo::tool {

class JsonWriter {
public:
    JsonWriter& beginObject() { return open('{'); }
    JsonWriter& endObject() { return close('}'); }
    JsonWriter& beginArray() { return open('['); }
    JsonWriter& endArray() { return close(']'); }

    JsonWriter& key(const std::string& k) {
        separate();
        appendString(k);
        out_ += ':';
        afterKey_ = true;
        return *this;
    }
    JsonWriter& value(const std::string& s) {
        separate();
        appendString(s);
        return *this;
    }
    JsonWriter& value(const char* s) { return s == nullptr ? null() : value(std::string(s)); }
    JsonWriter& value(bool b) {
        separate();
        out_ += b ? "true" : "false";
        return *this;
    }
    JsonWriter& value(int v) { return raw(std::to_string(v)); }
    JsonWriter& value(long long v) { return raw(std::to_string(v)); }
    JsonWriter& value(double v) {
        // JSON has no NaN or infinity; they print as null.
        if (!std::isfinite(v)) return null();
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", v);
        return raw(text);
    }
    JsonWriter& value(float v) { return value(static_cast<double>(v)); }
    JsonWriter& null() { return raw("null"); }

    const std::string& text() const { return out_; }
    void print() const { std::printf("%s\n", out_.c_str()); }

private:
    JsonWriter& raw(const std::string& token) {
        separate();
        out_ += token;
        return *this;
    }
    JsonWriter& open(char bracket) {
        separate();
        out_ += bracket;
        first_.push_back(true);
        return *this;
    }
    JsonWriter& close(char bracket) {
        out_ += bracket;
        first_.pop_back();
        return *this;
    }
    void separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (first_.empty()) return;
        if (!first_.back()) out_ += ',';
        first_.back() = false;
    }
    void appendString(const std::string& s) {
        out_ += '"';
        for (unsigned char c : s) {
            switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\t':
                out_ += "\\t";
                break;
            case '\r':
                out_ += "\\r";
                break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out_ += esc;
                } else {
                    out_ += static_cast<char>(c);
                }
            }
        }
        out_ += '"';
    }

    std::string out_;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

} // namespace tarvo::tool
