// The scan of zero-terminated strings: which texts it reports, across block
// boundaries, against a plain reading of the rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "string_scan.h"

namespace {

using namespace std::string_literals;

struct Found {
    std::uint64_t offset;
    std::string text;
    bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << f.offset << ":" << testing::PrintToString(f.text);
}

struct Scan {
    std::vector<Found> found;
    ScanStatus status;
};

Scan scan(const std::string& bytes, std::size_t block) {
    std::FILE* file = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    Scan s;
    s.status = scan_strings(
        file,
        [&](std::uint64_t offset, std::string_view text) {
            s.found.push_back({offset, std::string(text)});
            return true;
        },
        block);
    std::fclose(file);
    return s;
}

// The rule read plainly: every offset the translator compares, one by one.
std::vector<Found> reference(const std::string& b) {
    std::vector<Found> out;
    for (std::size_t p = 1; p + kLookAhead <= b.size(); ++p) {
        if (b[p - 1] != '\0' || b[p] == '\0') continue;
        std::size_t end = b.find('\0', p);
        if (end - p <= kLongestOriginal) out.push_back({p, b.substr(p, end - p)});
    }
    return out;
}

// size zero bytes with text at offset p.
std::string at(std::size_t size, std::size_t p, const std::string& text) {
    std::string b(size, '\0');
    b.replace(p, text.size(), text);
    return b;
}

struct Case {
    const char* name;
    std::string bytes;
    std::vector<Found> want;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Scans : public testing::TestWithParam<Case> {};

TEST_P(Scans, ReportExactlyTheComparedTexts) {
    const Case& c = GetParam();
    for (std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{98}, std::size_t{99},
                              std::size_t{100}, kBlockSize}) {
        Scan s = scan(c.bytes, block);
        EXPECT_EQ(s.status, ScanStatus::ok);
        EXPECT_EQ(s.found, c.want) << "block " << block;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, Scans,
    testing::Values(
        Case{"Empty", "", {}},
        Case{"OffsetZeroNever", at(200, 0, "File"), {}},
        Case{"OffsetOne", at(200, 1, "File"), {{1, "File"}}},
        Case{"LastComparedOffset", at(200, 101, "File"), {{101, "File"}}},
        Case{"WithinTheLast98", at(200, 102, "File"), {}},
        Case{"ShorterThanTheLookAhead", at(99, 1, "A"), {}},
        Case{"JustLongEnough", at(100, 1, "A"), {{1, "A"}}},
        Case{"Longest", at(300, 10, std::string(97, 'a')), {{10, std::string(97, 'a')}}},
        Case{"TooLongAndItsTailToo", at(300, 10, std::string(98, 'a')), {}},
        Case{"AfterALongRun", at(300, 10, std::string(120, 'a') + "\0Next"s), {{131, "Next"}}},
        Case{"Adjacent", at(200, 10, "File\0Quit"s), {{10, "File"}, {15, "Quit"}}},
        Case{"NoEndInTheFile", "\0"s + std::string(150, 'a'), {}}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(Scan, MatchesThePlainRuleOnRandomFiles) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 300; ++round) {
        std::string b(std::uniform_int_distribution<std::size_t>(0, 3000)(rng), '\0');
        // Zero runs and letter runs of random lengths, so texts of every
        // length, and some longer than 97, occur.
        for (std::size_t i = 0; i < b.size();) {
            std::size_t run = std::uniform_int_distribution<std::size_t>(1, round % 2 ? 130 : 12)(rng);
            char c = rng() % 3 == 0 ? '\0' : static_cast<char>('a' + rng() % 26);
            for (; run > 0 && i < b.size(); --run, ++i) b[i] = c == '\0' ? c : static_cast<char>(c + rng() % 2);
        }
        std::size_t block = std::uniform_int_distribution<std::size_t>(1, 300)(rng);
        Scan s = scan(b, block);
        ASSERT_EQ(s.status, ScanStatus::ok);
        ASSERT_EQ(s.found, reference(b)) << "round " << round << ", block " << block;
    }
}

TEST(Scan, StopsWhenTheVisitorSaysSo) {
    std::FILE* file = std::tmpfile();
    std::string b = at(300, 10, "One\0Two\0Three"s);
    std::fwrite(b.data(), 1, b.size(), file);
    std::rewind(file);
    int seen = 0;
    EXPECT_EQ(scan_strings(file, [&](std::uint64_t, std::string_view) { return ++seen < 2; }),
              ScanStatus::stopped);
    EXPECT_EQ(seen, 2);
    std::fclose(file);
}

TEST(Scan, ReportsAReadError) {
    std::FILE* folder = std::fopen(".", "rb");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(scan_strings(folder, [](std::uint64_t, std::string_view) { return true; }), ScanStatus::read_error);
    std::fclose(folder);
}

}  // namespace
