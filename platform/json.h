// A small JSON writer, for the web module's answers to its page and the console's --json:
// objects and arrays of texts, numbers and truth values. Texts are UTF-8 and written as they
// are, with the characters JSON requires escaped.
#pragma once

#include <cstdio>
#include <string>

class JsonArray;

inline std::string JsonQuote(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

inline std::string JsonNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

class JsonObject {
public:
    void Add(const char* key, const std::string& value) { Put(key, JsonQuote(value)); }
    void Add(const char* key, const char* value) { Put(key, JsonQuote(value)); }
    void Add(const char* key, bool value) { Put(key, value ? "true" : "false"); }
    void Add(const char* key, int value) { Put(key, std::to_string(value)); }
    void Add(const char* key, double value) { Put(key, JsonNumber(value)); }
    void Add(const char* key, const JsonObject& value) { Put(key, value.Text()); }
    inline void Add(const char* key, const JsonArray& value);
    std::string Text() const { return "{" + m_body + "}"; }

private:
    void Put(const char* key, const std::string& value)
    {
        if (!m_body.empty())
            m_body += ',';
        m_body += JsonQuote(key) + ":" + value;
    }
    std::string m_body;
};

class JsonArray {
public:
    void Add(const std::string& value) { Put(JsonQuote(value)); }
    void Add(int value) { Put(std::to_string(value)); }
    void Add(const JsonObject& value) { Put(value.Text()); }
    std::string Text() const { return "[" + m_body + "]"; }

private:
    void Put(const std::string& value)
    {
        if (!m_body.empty())
            m_body += ',';
        m_body += value;
    }
    std::string m_body;
};

inline void JsonObject::Add(const char* key, const JsonArray& value)
{
    Put(key, value.Text());
}
