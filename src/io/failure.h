// How a step below the tools fails: its status (src/io/status.h) and the reason in words.
// The legacy tools print the fixed line for the status, kestrune-adpcm the reason, and the
// library maps the status to its kestrune::Error; each in one place.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <variant>

#include "io/status.h"

namespace kestrune::detail {

struct Failure {
    int status = kStatusFinished;
    std::string reason;  // for a person: "cannot read: Input/output error"

    // `what` and the text of errno as it is now: "cannot write: No space left on device".
    static Failure system(int status, const std::string& what) {
        return {status, what + ": " + std::strerror(errno)};
    }
    // The text of errno alone, for a caller that names what failed itself.
    static Failure ofErrno(int status) { return {status, std::strerror(errno)}; }
};

// A value, or the Failure that prevented it.
template <class T>
class Outcome {
public:
    Outcome(T value) : v_(std::move(value)) {}            // NOLINT: made from its value
    Outcome(Failure failure) : v_(std::move(failure)) {}  // NOLINT: and from its failure
    explicit operator bool() const { return v_.index() == 0; }
    T& operator*() { return std::get<0>(v_); }
    const T& operator*() const { return std::get<0>(v_); }
    T* operator->() { return &std::get<0>(v_); }
    const T* operator->() const { return &std::get<0>(v_); }
    int status() const { return *this ? kStatusFinished : failure().status; }
    const Failure& failure() const { return std::get<1>(v_); }
    Failure& failure() { return std::get<1>(v_); }

private:
    std::variant<T, Failure> v_;
};

// A step that gives nothing but succeeds or fails.
template <>
class Outcome<void> {
public:
    Outcome() = default;
    Outcome(Failure failure) : failure_(std::move(failure)) {}  // NOLINT: made from its failure
    explicit operator bool() const { return failure_.status == kStatusFinished; }
    int status() const { return failure_.status; }
    const Failure& failure() const { return failure_; }
    Failure& failure() { return failure_; }

private:
    Failure failure_;
};

using Done = Outcome<void>;

}  // namespace kestrune::detail
