// How offline code says whether something was done: one result type, a code and a message.
#pragma once

#include <string>
#include <utility>

namespace endpointfix {

class [[nodiscard]] Result {
public:
    // The code of a failure whose reason is this program's own, not the system's.
    static constexpr int kRefused = -1;

    Result() = default;  // done
    // Not done: `message` says what, in a phrase for one line; `code` is the errno value behind it,
    // or kRefused.
    Result(int code, std::string message) : code_(code), message_(std::move(message)) {}
    static Result refused(std::string why) { return {kRefused, std::move(why)}; }

    bool ok() const { return code_ == 0; }
    int code() const { return code_; }
    const std::string& message() const { return message_; }
    // The same failure, with `more` added to its message ("...; the hive is as it was").
    Result and_then_say(const std::string& more) const { return {code_, message_ + more}; }

private:
    int code_ = 0;
    std::string message_;
};

// The one way a system error becomes words: "WHAT: REASON" (strerror), with the code kept.
Result failed(const std::string& what, int error);

}  // namespace endpointfix
