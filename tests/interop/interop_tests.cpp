// scm-extractor, an independent reader, must find exactly the chunk file we wrote.
#include "archive.h"
#include "fixtures.h"
#include "protections.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
using fixtures::Bytes;

namespace {

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

// The chunk file as scm-extractor reads it; fails the test when the reader cannot run.
Bytes extracted(const fs::path& map, const fs::path& dir) {
    const fs::path out = dir / "extracted.chk", err = dir / "extract.err";
    fs::remove(out);
    const std::string cmd = quote(NODE) + " " + quote(EXTRACT_JS) + " " + quote(map) + " " + quote(out) + " 2>" +
                            quote(err);
    const int rc = std::system(cmd.c_str());
    const Bytes e = fs::exists(err) ? fixtures::readAll(err) : Bytes{};
    EXPECT_EQ(rc, 0) << "scm-extractor failed on " << map << ": " << std::string(e.begin(), e.end());
    return rc == 0 && fs::exists(out) ? fixtures::readAll(out) : Bytes{};
}

TEST(Interop, ReaderIsInstalled) {
    ASSERT_TRUE(fs::exists(NODE)) << "node not found; run scripts/setup";
    ASSERT_TRUE(fs::exists(fs::path(INTEROP_DIR) / "node_modules/scm-extractor/index.js"))
        << "tests/interop/node_modules/scm-extractor missing; run scripts/setup (npm ci in tests/interop)";
}

TEST(Interop, CliSpliceOfACleanMapReadsBack) {
    fixtures::ScratchDir dir;
    const Bytes edit = protections::sampleChunk(1), other = protections::sampleChunk(2, 26000);
    fixtures::makeMap(dir / "edit.scm", edit);
    fixtures::makeMap(dir / "other.scm", other, {fixtures::Codec::Implode, true});
    ASSERT_EQ(extracted(dir / "edit.scm", dir.path()), edit);
    fs::create_directory(dir / "w");
    const std::string cmd = quote(GRAFTWELL_CLI) + " splice " + quote(dir / "edit.scm") + " " +
                            quote(dir / "other.scm") + " --section 'STR ' --work-dir " + quote(dir / "w") +
                            " >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const Bytes want = archive::readMember(dir / "edit.scm", fixtures::kChunkName);
    EXPECT_NE(want, edit);
    EXPECT_EQ(extracted(dir / "edit.scm", dir.path()), want);
}

class ProtectedInterop : public ::testing::TestWithParam<protections::Protection> {};

// Every protection in the catalogue is one scm-extractor reads before our change.
TEST_P(ProtectedInterop, AddedChunkReadsBack) {
    fixtures::ScratchDir dir;
    const fs::path map = dir / "p.scm";
    protections::make(GetParam(), map);
    ASSERT_EQ(extracted(map, dir.path()), protections::sampleChunk());
    const Bytes next = protections::sampleChunk(7, 31000);
    fixtures::writeAll(dir / "new.chk", next);
    archive::add(map, dir / "new.chk", fixtures::kChunkName);
    EXPECT_EQ(extracted(map, dir.path()), next);
    archive::add(map, dir / "new.chk", fixtures::kChunkName);
    EXPECT_EQ(extracted(map, dir.path()), next);
}

INSTANTIATE_TEST_SUITE_P(Protections, ProtectedInterop, ::testing::ValuesIn(protections::all()),
                         [](const auto& info) { return info.param.name; });

} // namespace
