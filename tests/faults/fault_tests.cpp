// Save under injected faults: every file-system call that changes something is
// made to fail, or the process is killed at it, one call per run. The map to
// edit must always hold either its old bytes or the saved ones, and a plain
// rerun of Save must then succeed.
#include "archive.h"
#include "fixtures.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using fixtures::Bytes;

namespace {

const char* const kMember = "staredit\\scenario.chk";

struct Fault {
    const char* mode = nullptr; // nullptr: run without the shim
    long at = 0;
    const char* copyRange = nullptr; // GW_COPY_RANGE for the shim
};

// Runs graftwell-cli with its output discarded; returns the exit status or -1.
int cli(const std::vector<std::string>& args, const Fault& fault, const fs::path& fired) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(99);
        if (fault.mode) {
            ::setenv("LD_PRELOAD", GRAFTWELL_FAULTSHIM, 1);
            ::setenv("GW_FAULT_MODE", fault.mode, 1);
            ::setenv("GW_FAULT_AT", std::to_string(fault.at).c_str(), 1);
            ::setenv("GW_FAULT_FIRED", fired.c_str(), 1);
            if (fault.copyRange)
                ::setenv("GW_COPY_RANGE", fault.copyRange, 1);
            // A sanitizer runtime would insist on being loaded before the shim.
            ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
        }
        std::vector<char*> argv{const_cast<char*>(GRAFTWELL_CLI)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(GRAFTWELL_CLI, argv.data());
        _exit(98);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Parameters: the fault mode, and whether the map was saved once before, so that
// Save writes over its own earlier tail instead of appending.
class SaveUnderFaults : public ::testing::TestWithParam<std::tuple<const char*, bool>> {
protected:
    void SetUp() override {
        edit = fixtures::makeChunk({{"VER ", {205, 0}}, {"TILE", fixtures::pattern(3000, 1)},
                                    {"STR ", fixtures::pattern(500, 2)}});
        other = fixtures::makeChunk({{"TILE", fixtures::pattern(3000, 3)}});
        expected = fixtures::makeChunk({{"VER ", {205, 0}}, {"TILE", fixtures::pattern(3000, 3)},
                                        {"STR ", fixtures::pattern(500, 2)}});
        fixtures::makeMap(dir / "edit.scm", edit, {}, {{"extra\\notes.txt", fixtures::pattern(2000, 4)}});
        fixtures::makeMap(dir / "other.scm", other);
        if (withParam() && std::get<1>(GetParam())) {
            prepare();
            EXPECT_EQ(cli({"save", map(), "--work-dir", work()}, {}, {}), 0);
            fs::remove_all(dir / "work");
        }
        oldBytes = fixtures::readAll(dir / "edit.scm");
        notes = archive::readMember(dir / "edit.scm", "extra\\notes.txt");
    }

    static bool withParam() { return ::testing::UnitTest::GetInstance()->current_test_info()->value_param(); }
    const char* mode() const { return std::get<0>(GetParam()); }
    std::string map() const { return (dir / "edit.scm").string(); }
    std::string work() const { return (dir / "work").string(); }

    void prepare() {
        ASSERT_EQ(cli({"copy", map(), (dir / "other.scm").string(), "--work-dir", work()}, {}, {}), 0);
    }

    void expectSaved() {
        EXPECT_EQ(archive::readMember(dir / "edit.scm", kMember), expected);
        EXPECT_EQ(archive::readMember(dir / "edit.scm", "extra\\notes.txt"), notes);
    }

    fixtures::ScratchDir dir;
    Bytes edit, other, expected, oldBytes, notes;
};

TEST_P(SaveUnderFaults, MapIsAlwaysOldOrNewAndARerunSucceeds) {
    const char* mode = this->mode();
    const fs::path fired = dir / "fired";
    // Save is deterministic, so the saved map's bytes are known in advance.
    prepare();
    ASSERT_EQ(cli({"save", map(), "--work-dir", work()}, {}, {}), 0);
    const Bytes newBytes = fixtures::readAll(dir / "edit.scm");
    long at = 1;
    for (;; ++at) {
        SCOPED_TRACE(std::string(mode) + " at call " + std::to_string(at));
        fixtures::writeAll(dir / "edit.scm", oldBytes);
        fs::remove_all(dir / "work");
        prepare();
        fs::remove(fired);

        const int status = cli({"save", map(), "--work-dir", work()}, {mode, at}, fired);
        if (!fs::exists(fired)) {
            // Every call has had its turn: this run went through untouched.
            ASSERT_EQ(status, 0);
            expectSaved();
            break;
        }
        const Bytes now = fixtures::readAll(dir / "edit.scm");
        EXPECT_TRUE(now == oldBytes || now == newBytes) << "the map is neither the old nor the saved one";
        if (std::string(mode) == "fail") {
            EXPECT_NE(status, 0) << "a failed call was reported as success";
            // No temporary file is left beside the map.
            size_t entries = 0;
            for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path()))
                ++entries;
            EXPECT_EQ(entries, 4u) << "edit.scm, other.scm, work and the marker only";
        }
        ASSERT_EQ(cli({"save", map(), "--work-dir", work()}, {}, {}), 0) << "the rerun must succeed";
        expectSaved();
        if (HasFailure())
            break;
    }
    EXPECT_GT(at, 5) << "the shim saw too few calls to be hooked in";
}

// Undo after a Save cut short at any call brings the old map back, and succeeds
// exactly when that Save had already replaced the map.
TEST_P(SaveUnderFaults, UndoAfterACutShortSaveBringsBackTheOldMap) {
    const fs::path fired = dir / "fired";
    for (long at = 1;; ++at) {
        SCOPED_TRACE(std::string(mode()) + " at call " + std::to_string(at));
        fixtures::writeAll(dir / "edit.scm", oldBytes);
        fs::remove_all(dir / "work");
        prepare();
        fs::remove(fired);
        cli({"save", map(), "--work-dir", work()}, {mode(), at}, fired);
        const bool replaced = fixtures::readAll(dir / "edit.scm") != oldBytes;
        EXPECT_EQ(cli({"undo", map(), "--work-dir", work()}, {}, {}), replaced ? 0 : 1);
        EXPECT_EQ(fixtures::readAll(dir / "edit.scm"), oldBytes);
        if (!fs::exists(fired) || HasFailure())
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, SaveUnderFaults, ::testing::Combine(::testing::Values("fail", "kill"), ::testing::Bool()));

// Maps are copied in the kernel where it can; where it copies nothing, or stops
// early, the rest is copied by hand and the map still comes out whole.
TEST_F(SaveUnderFaults, CopiesAreWholeWhereTheKernelCannotCopy) {
    for (const char* range : {"none", "short"}) {
        SCOPED_TRACE(range);
        fixtures::writeAll(dir / "edit.scm", oldBytes);
        fs::remove_all(dir / "work");
        const Fault noFault{"fail", 0, range};
        ASSERT_EQ(cli({"copy", map(), (dir / "other.scm").string(), "--work-dir", work()}, noFault, dir / "fired"), 0);
        EXPECT_EQ(fixtures::readAll(dir / "work" / "temp" / "~temp1.map"), oldBytes);
        ASSERT_EQ(cli({"save", map(), "--work-dir", work()}, noFault, dir / "fired"), 0);
        expectSaved();
    }
}

} // namespace
