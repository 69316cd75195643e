// A small writer of JSON text: objects and arrays nested in the order they are written, strings
// escaped (control characters, quotes, backslashes; bytes that are not UTF-8 become U+FFFD so
// that a path of any bytes still gives valid JSON).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace build {

class JsonWriter {
  public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(std::uint64_t number);
    JsonWriter& value(int number);
    JsonWriter& value(bool flag);
    JsonWriter& null();
    // A text, or null when there is none.
    JsonWriter& optional(const std::optional<std::string>& text);
    JsonWriter& optional(const std::optional<bool>& flag);
    const std::string& text() const { return m_text; }

  private:
    void separate();
    std::string m_text;
    std::vector<bool> m_first;  // per open object or array: nothing written in it yet
    bool m_afterKey = false;
};

// `text` as a JSON string literal, quotes included.
std::string jsonString(std::string_view text);

}  // namespace build
