#include "archive.h"
#include "fixtures.h"

#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using fixtures::Bytes;

namespace {

struct CliRun {
    int status = -1;
    std::vector<std::string> out;
    std::string err;
};

std::vector<std::string> lines(const Bytes& b) {
    std::vector<std::string> v;
    std::istringstream in(std::string(b.begin(), b.end()));
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

class Cli : public ::testing::Test {
protected:
    CliRun cli(std::vector<std::string> args) {
        const fs::path o = dir / "stdout", e = dir / "stderr";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!freopen(o.c_str(), "w", stdout) || !freopen(e.c_str(), "w", stderr)) _exit(99);
            std::vector<char*> argv{const_cast<char*>(GRAFTWELL_CLI)};
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(GRAFTWELL_CLI, argv.data());
            _exit(98);
        }
        int st = 0;
        ::waitpid(pid, &st, 0);
        const Bytes err = fixtures::readAll(e);
        return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, lines(fixtures::readAll(o)),
                std::string(err.begin(), err.end())};
    }
    std::string path(const char* name) { return (dir / name).string(); }
    std::string work() { return (dir / "w").string(); }

    void SetUp() override {
        fs::create_directory(dir / "w");
        fixtures::makeMap(dir / "a.scm", fixtures::makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", Bytes(10, 1)},
                                                               {"MTXM", Bytes(10, 2)}}));
        fixtures::makeMap(dir / "b.scm", fixtures::makeChunk({{"DIM ", {9, 0, 8, 0}}, {"MTXM", Bytes(4, 3)},
                                                               {"TILE", Bytes(6, 4)}}));
    }
    fixtures::ScratchDir dir;
};

TEST_F(Cli, CopyPrintsEveryStatusAndEndsWithDone) {
    const CliRun r = cli({"copy", path("a.scm"), path("b.scm"), "--section", "MTXM", "--force", "--work-dir", work()});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 13u);
    EXPECT_EQ(r.out.front(), "Deleting temp files...");
    EXPECT_EQ(r.out.back(), "Done!");
    EXPECT_NE(r.err.find("warning:"), std::string::npos);
    EXPECT_EQ(fixtures::readAll(dir / "w/temp/scenariox.chk"),
              fixtures::makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", Bytes(10, 1)}, {"MTXM", Bytes(4, 3)}}));
}

TEST_F(Cli, TerrainOfAnotherSizeIsRefusedWithoutForce) {
    const CliRun r = cli({"copy", path("a.scm"), path("b.scm"), "--work-dir", work()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("graftwell-cli: error: "), std::string::npos);
    EXPECT_NE(r.err.find("8x8"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--force"), std::string::npos);
}

TEST_F(Cli, FailureEndsWithTheStepAndAClearError) {
    const CliRun r = cli({"copy", path("a.scm"), path("missing.scm"), "--work-dir", work()});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), "Copying maps...");
    EXPECT_EQ(r.err.rfind("graftwell-cli: error: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("missing.scm"), std::string::npos);
}

TEST_F(Cli, SpliceCopiesAndSaves) {
    fixtures::makeMap(dir / "c.scm", fixtures::makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", Bytes(6, 4)}}));
    const CliRun r = cli({"splice", path("a.scm"), path("c.scm"), "--work-dir", work()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.back(), "Save successful!");
    EXPECT_EQ(r.out.size(), 17u);
    EXPECT_EQ(archive::readMember(dir / "a.scm", "staredit\\scenario.chk"),
              fixtures::makeChunk({{"DIM ", {8, 0, 8, 0}}, {"TILE", Bytes(6, 4)}, {"MTXM", Bytes(10, 2)}}));
}

TEST_F(Cli, SaveWithoutCopyIsRefused) {
    const CliRun r = cli({"save", path("a.scm"), "--work-dir", work()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("run Copy Section first"), std::string::npos) << r.err;
}

TEST_F(Cli, SectionsListsTheWalk) {
    const CliRun r = cli({"sections", path("a.scm")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, (std::vector<std::string>{"DIM \t5\t4", "TILE\t17\t10", "MTXM\t35\t10"}));
    EXPECT_EQ(cli({"sections", path("nothing.scm")}).status, 1);
}

TEST_F(Cli, BadUsageExitsTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"copy", "x"}, {"frobnicate"}, {"copy", "a", "b", "--bogus"}, {"copy", "a", "b", "--section"},
             {"save", "a", "--section", "TILE"}}) {
        const CliRun r = cli(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
    EXPECT_EQ(cli({"--help"}).status, 0);
    const CliRun v = cli({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.at(0).rfind("graftwell-cli 1.", 0), 0u);
}

} // namespace
