// Messages that carry a text of their own (a path, the system's reason), matched against the
// function in app/messages.h that composes them, so that a test holds no copy of their words.
#pragma once

#include <optional>
#include <string>

namespace textsupport {

// What a message composer puts before and after the text it is given.
struct Shape {
    std::string head;
    std::string tail;
};

template <class Compose>
Shape shapeOf(Compose compose) {
    const std::string marker = "\x1f";  // a character no message of ours holds
    const std::string whole = compose(marker);
    const std::size_t at = whole.find(marker);
    if (at == std::string::npos) return {whole, {}};
    return {whole.substr(0, at), whole.substr(at + marker.size())};
}

// The text `compose` was given for the first message of its making in `text`; nothing when
// `text` holds no such message.
template <class Compose>
std::optional<std::string> findComposed(const std::string& text, Compose compose) {
    const Shape shape = shapeOf(compose);
    const std::size_t head = text.find(shape.head);
    if (head == std::string::npos) return std::nullopt;
    const std::size_t from = head + shape.head.size();
    const std::size_t tail = text.find(shape.tail, from);
    if (tail == std::string::npos) return std::nullopt;
    return text.substr(from, tail - from);
}

}  // namespace textsupport
