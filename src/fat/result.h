// Must-check results for the layers below the dialog: a failure carries a message
// that says what failed and where, for the caller to turn into its own report, and a kind
// for code that has to decide what to do about it.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace fat {

// What kind of failure it was. Code decides on the kind, never on the message's words.
enum class Failure {
    Other,
    NoMedium,          // nothing in the drive
    NotDiskette,       // something that is no diskette, never written
    WriteProtected,    // the medium refuses writes
    PermissionDenied,  // this user may not open the device or file
    Busy,              // mounted or held by another program
};

class [[nodiscard]] Status {
public:
    static Status success() { return Status(); }
    static Status failure(std::string message) { return Status(Failure::Other, std::move(message)); }
    static Status failure(Failure kind, std::string message) {
        return Status(kind, std::move(message));
    }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return m_message; }
    Failure kind() const { return m_kind; }

private:
    Status() = default;
    Status(Failure kind, std::string message)
        : m_failed(true), m_kind(kind), m_message(std::move(message)) {}
    bool m_failed = false;
    Failure m_kind = Failure::Other;
    std::string m_message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}  // NOLINT: implicit on purpose
    Result(Status failure)                          // NOLINT: a failed Status only
        : m_kind(failure.kind()), m_message(failure.message()) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return m_message; }
    Failure kind() const { return m_kind; }
    T& value() { return *m_value; }
    const T& value() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    Status status() const {
        return ok() ? Status::success() : Status::failure(m_kind, m_message);
    }

private:
    std::optional<T> m_value;
    Failure m_kind = Failure::Other;
    std::string m_message;
};

}  // namespace fat
