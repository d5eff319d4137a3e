// What endpointfix-offline puts out beside the report: the folder of a path, names escaped in
// messages, and the proof that a new hive holds what the run wrote.
#include <gtest/gtest.h>

#include "check/check.h"
#include "check/escaped_name.h"
#include "offline/load/path_parts.h"
#include "offline/load/read_back.h"
#include "tests/endpoint_store.h"
#include "tests/faulty_store.h"

namespace endpointfix::test {
namespace {

TEST(PathParts, FolderNameAndSibling) {
    const struct {
        const char *path, *folder, *name, *sibling;
    } cases[] = {
        {"/x", "/", "x", "/y"},       {"x", ".", "x", "y"},      {"a/b", "a", "b", "a/y"},
        {"/a/b/", "/a", "b", "/a/y"}, {"a//b", "a", "b", "a/y"}, {"/", "/", "", "/y"},
        {"./x", ".", "x", "./y"},     {"//x", "/", "x", "/y"},
    };
    for (const auto& c : cases) {
        const offline::PathParts parts = offline::split_path(c.path);
        EXPECT_EQ(parts.folder + "|" + parts.name + "|" + offline::sibling_path(c.path, "y"),
                  std::string(c.folder) + "|" + c.name + "|" + c.sibling)
            << c.path;
    }
}

TEST(EscapedName, ControlsAndBrokenUtf8AsHexOneLine) {
    const struct {
        const char *name, *text, *want;
    } cases[] = {
        {"UTF-8 letters stand", "/mnt/C\xc3\xa9/\xc5\x91\xd1\x80",
         "/mnt/C\xc3\xa9/\xc5\x91\xd1\x80"},
        {"ESC", "a\x1b[2Jb", "a\\x1b[2Jb"},
        {"a newline forging a line", "h\nendpointfix-offline: ok", "h\\x0aendpointfix-offline: ok"},
        {"DEL", "a\x7f", "a\\x7f"},
        {"a C1 control in UTF-8",
         "a\xc2\x9b"
         "2J",
         "a\\xc2\\x9b2J"},
        {"bytes that are no UTF-8", "a\xff\xc3", "a\\xff\\xc3"},
    };
    for (const auto& c : cases) EXPECT_EQ(escaped_name(c.text), c.want) << c.name;
}

TEST(ReadBack, TheNewHiveMustHoldWhatTheRunWrote) {
    const std::string mix = kCapture + "\\{0.0.1.00000000}.{mix}";
    // A write fault injected below the record (the store loses what the run asked for) or above
    // it (the run's write is lost before it is asked for).
    const struct {
        const char* name;
        std::uint64_t below, above;  // the write the fault takes, or 0
        bool drop;
        std::string want;
    } cases[] = {
        {"every write kept", 0, 0, false, ""},
        {"a write lost without an error", 1, 0, true,
         "does not hold " + mix + "\\DeviceState as it was written"},
        {"a write that failed", 1, 0, false,
         "was not written in full: the write of " + mix + "\\DeviceState failed (status 1450)"},
        {"a write lost before it was asked for", 0, 1, true, "leaves changes to make: 1"},
    };
    for (const auto& c : cases) {
        MemoryStore store;
        store.set_string(mix + "\\Properties", kDescription, "WaveOut Mix");
        FaultyStore below(store, c.below, false, Op::kWrite, c.drop);
        offline::WriteRecorder recorder(below);
        FaultyStore above(recorder, c.above, false, Op::kWrite, c.drop);
        run(above);
        const Result got = offline::read_back(store, store, recorder.writes(), kNothingToChange);
        EXPECT_EQ(got.ok() ? "done" : got.message(), c.want.empty() ? "done" : c.want) << c.name;
    }
}

}  // namespace
}  // namespace endpointfix::test
