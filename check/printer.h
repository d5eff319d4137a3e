// How the check's run is printed: as the report, as a .reg file or as a JSON document. The check
// (check.cc) follows the run and decides what it sees; a printer writes that out, in run order.
#pragma once

#include <cstdint>

#include "app/run.h"
#include "check/check.h"
#include "check/text.h"

namespace endpointfix {

// An endpoint a rule acts on.
struct EndpointSeen {
    PassId pass;
    const char* key;                 // the endpoint key's name, null where unknown
    const StoredValue* form_factor;  // the render rule's test read it, where set
    const StoredValue& description;
};

// A value the act read or wrote.
struct ValueSeen {
    const char* path;    // of its key below HKEY_LOCAL_MACHINE, null where unknown
    const char* subkey;  // null for the endpoint key itself, else its key's name
    const char* name;    // one of the run's constants
    const StoredValue& now;
    const PendingWrite* write;  // null where the act read it and wrote nothing
};

struct CheckSummary {
    std::uint32_t endpoints, matched, changes, blocked, unreadable;
    bool no_store;  // no endpoint root, and nothing that could not be read
    int status;
};

class CheckPrinter {
public:
    virtual void begin() {}
    virtual void endpoint(const EndpointSeen&) {}
    virtual void value(const ValueSeen& seen) = 0;
    virtual void endpoint_end() {}
    // The key at `path` (null where unknown) could not be opened, or where `listing`, its
    // subkeys could not be listed.
    virtual void unreadable(const char* path, bool listing, const char* reason) = 0;
    // Returns false where something could not be printed for want of memory.
    virtual bool finish(const CheckSummary& summary) = 0;

protected:
    ~CheckPrinter() = default;  // not owned through this interface
};

// A blocked change's reason.
inline const char* blocked_reason(const PendingWrite& write) {
    return write.access == Outcome::kDenied ? "access denied" : "cannot open the key";
}

// The report's line for a key that cannot be read.
void print_unreadable(const Output& out, const char* path, bool listing, const char* reason);

class ReportPrinter final : public CheckPrinter {
public:
    ReportPrinter(const Output& out, const CheckOptions& options) : out_(out), options_(options) {}
    void endpoint(const EndpointSeen& seen) override;
    void value(const ValueSeen& seen) override;
    void unreadable(const char* path, bool listing, const char* reason) override;
    bool finish(const CheckSummary& summary) override;

private:
    Output out_;
    const CheckOptions& options_;
};

// Exactly the pending changes, blocked ones included; keys that cannot be read in comments.
class RegFilePrinter final : public CheckPrinter {
public:
    explicit RegFilePrinter(const Output& out) : out_(out) {}
    void begin() override;
    void value(const ValueSeen& seen) override;
    void unreadable(const char* path, bool listing, const char* reason) override;
    bool finish(const CheckSummary&) override { return true; }

private:
    Output out_;
    bool in_section_ = false;
    char section_[DryRunStore::kPathBuffer];  // the key of the last section, where in one
};

// The document is printed as the run goes, but for the keys that cannot be read, which come in
// any order and are kept, in memory, for their own array after the endpoints.
class JsonPrinter final : public CheckPrinter {
public:
    JsonPrinter(std::FILE* out, const CheckOptions& options) : out_(out), options_(options) {}
    ~JsonPrinter();
    void begin() override;
    void endpoint(const EndpointSeen& seen) override;
    void value(const ValueSeen& seen) override;
    void endpoint_end() override;
    void unreadable(const char* path, bool listing, const char* reason) override;
    bool finish(const CheckSummary& summary) override;

private:
    struct Unreadable;
    std::FILE* out_;
    const CheckOptions& options_;
    std::uint32_t endpoints_ = 0, values_ = 0;
    bool in_endpoint_ = false, lost_ = false;
    Unreadable *first_ = nullptr, *last_ = nullptr;
};

}  // namespace endpointfix
