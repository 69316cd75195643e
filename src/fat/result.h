// Must-check results for the layers below the dialog: a failure carries a message
// that says what failed and where, for the caller to turn into its own report.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace fat {

class [[nodiscard]] Status {
public:
    static Status success() { return Status(); }
    static Status failure(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return m_message; }

private:
    Status() = default;
    explicit Status(std::string message) : m_failed(true), m_message(std::move(message)) {}
    bool m_failed = false;
    std::string m_message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}  // NOLINT: implicit on purpose
    Result(Status failure) : m_message(failure.message()) {}  // NOLINT: a failed Status only

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return m_message; }
    T& value() { return *m_value; }
    const T& value() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    Status status() const { return ok() ? Status::success() : Status::failure(m_message); }

private:
    std::optional<T> m_value;
    std::string m_message;
};

}  // namespace fat
