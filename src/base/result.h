// Must-check results for every layer below the dialog. A failure carries a kind, for code that
// has to decide what to do about it, and a detail that says what failed and where, for the
// people who read the report. Sentences for the user are made at the edge, from the kind.
#pragma once

#include <cassert>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace base {

namespace detail {
// Reading the value of a failure, or the failure of a success, is the caller's mistake. Debug
// builds stop on the assertion, which names it; release builds stop too, rather than go on
// with bytes that were never a value.
inline void require(bool held) {
    if (!held) std::abort();
}
}  // namespace detail

// What kind of failure it was. Code decides on the kind, never on the detail's words. A
// success has no kind: the results below answer std::nullopt when asked for one.
enum class Failure {
    Other,
    NoMedium,          // nothing in the drive
    NotDiskette,       // something that is no diskette, never written
    WriteProtected,    // the medium refuses writes
    PermissionDenied,  // this user may not open the device or file
    Busy,              // mounted or held by another program
    NoRoom,            // the diskette or the host file system is full
    IoError,           // a transfer failed
    BadData,           // what was read makes no sense (a bad boot sector, a bad argument)
};

// A failure and nothing else: there is no way to make one that means success.
class Error {
  public:
    Error(Failure kind, std::string detail) : m_kind(kind), m_detail(std::move(detail)) {}
    Failure kind() const { return m_kind; }
    const std::string& detail() const { return m_detail; }

  private:
    Failure m_kind;
    std::string m_detail;
};

class [[nodiscard]] Status {
  public:
    Status(Error error) : m_error(std::move(error)) {}  // NOLINT: implicit on purpose
    static Status success() { return Status(); }
    // A failure, to return as a Status or as any Result's failure.
    static Error failure(std::string message) { return Error(Failure::Other, std::move(message)); }
    static Error failure(Failure kind, std::string message) {
        return Error(kind, std::move(message));
    }

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    // The detail of a failure; empty on success.
    const std::string& message() const { return m_error ? m_error->detail() : empty(); }
    std::optional<Failure> kind() const {
        return m_error ? std::optional(m_error->kind()) : std::nullopt;
    }
    // The failure itself, to pass on as another result's failure. Only a failed status has one.
    const Error& error() const {
        assert(m_error.has_value() && "a successful status carries no error");
        detail::require(m_error.has_value());
        return *m_error;
    }

  private:
    Status() = default;
    static const std::string& empty() {
        static const std::string none;
        return none;
    }
    std::optional<Error> m_error;
};

// A value or a failure. A Status does not convert: pass `status.error()`, which only a failed
// status has, so that a success can never turn into a failure with no detail.
template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : m_value(std::move(value)) {}      // NOLINT: implicit on purpose
    Result(Error error) : m_error(std::move(error)) {}  // NOLINT: implicit on purpose
    Result(Status) = delete;

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return m_error ? m_error->detail() : empty(); }
    std::optional<Failure> kind() const {
        return m_error ? std::optional(m_error->kind()) : std::nullopt;
    }
    const Error& error() const {
        assert(m_error.has_value() && "a result with a value carries no error");
        detail::require(m_error.has_value());
        return *m_error;
    }
    // The value; only a successful result has one.
    T& value() { return checked(*this); }
    const T& value() const { return checked(*this); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    Status status() const { return m_error ? Status(*m_error) : Status::success(); }

  private:
    template <class Self>
    static auto& checked(Self& self) {
        assert(self.m_value.has_value() && "a failed result carries no value");
        detail::require(self.m_value.has_value());
        return *self.m_value;
    }
    static const std::string& empty() {
        static const std::string none;
        return none;
    }
    std::optional<T> m_value;
    std::optional<Error> m_error;
};

}  // namespace base
