// Makes the benchmark's inputs:
//   bench_inputs program SIZE OUT < paths    the ELF files named on standard
//       input, concatenated in that order (again from the first when they run
//       out) and cut to SIZE bytes
//   bench_inputs dictionary PROGRAM COUNT OUT    COUNT originals drawn from the
//       zero-terminated strings of PROGRAM, with shorter, equal and longer
//       translations
//   bench_inputs synthetic COUNT OUT    a generated dictionary of COUNT lines
//   bench_inputs wide PROGRAM SIZE OUT    PROGRAM with a UTF-16LE copy of each
//       of its usable texts after it, as a wide literal at an even offset, cut
//       to SIZE bytes
//   bench_inputs dense PROGRAM DICTIONARY SIZE OUT    the first half of
//       PROGRAM, then UTF-16LE texts back to back between zero units up to
//       SIZE bytes, as dense as a resource section: by turns an original of
//       DICTIONARY and a text of PROGRAM that is none
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

bool is_elf(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char magic[4] = {};
    bool elf = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0;
    std::fclose(f);
    return elf;
}

int make_program(std::uint64_t size, const char* out_path) {
    std::vector<std::string> paths;
    for (std::string line; std::getline(std::cin, line);) {
        if (is_elf(line)) paths.push_back(line);
    }
    std::FILE* out = std::fopen(out_path, "wb");
    if (out == nullptr || paths.empty()) return 1;
    std::vector<char> buf(1 << 20);
    std::uint64_t written = 0;
    for (std::size_t i = 0; written < size; i = (i + 1) % paths.size()) {
        std::FILE* in = std::fopen(paths[i].c_str(), "rb");
        if (in == nullptr) continue;
        std::size_t got;
        while (written < size && (got = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(got, size - written));
            std::fwrite(buf.data(), 1, take, out);
            written += take;
        }
        std::fclose(in);
    }
    std::fprintf(stderr, "%zu ELF files\n", paths.size());
    return std::fclose(out) == 0 ? 0 : 1;
}

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    return h;
}

std::uint64_t hash_of(const std::string& s) {
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ULL;
    return mix(h);
}

// A word the dictionary reader takes as it is: printable, no blank, no quote.
bool usable(const std::string& s) {
    if (s.size() < 4 || s.size() > 40 || s.compare(0, 2, "!#") == 0) return false;
    for (unsigned char c : s) {
        if (c <= ' ' || c >= 0x7f || c == '"') return false;
    }
    return true;
}

std::string rotated(const std::string& s) {
    std::string t = s;
    for (char& c : t) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
        else if (c >= '0' && c <= '9') c = static_cast<char>('0' + (c - '0' + 5) % 10);
    }
    return t;
}

// Shorter, equal or longer than the original, by turns.
std::string translation(const std::string& org, std::size_t i) {
    std::string t = rotated(org);
    if (i % 3 == 0) t.resize((t.size() + 1) / 2);
    if (i % 3 == 2) t += "+xl";
    return t;
}

// The reader ignores a line whose first capital V is followed by "erkum".
bool ignored(const std::string& line) {
    std::size_t v = line.find('V');
    return v != std::string::npos && line.compare(v + 1, 5, "erkum") == 0;
}

int write_pairs(const std::vector<std::string>& originals, const char* out_path) {
    std::FILE* out = std::fopen(out_path, "w");
    if (out == nullptr) return 1;
    for (std::size_t i = 0; i < originals.size(); ++i) {
        std::string line = originals[i];
        line += ' ';
        line += translation(originals[i], i);
        if (!ignored(line)) std::fprintf(out, "%s\n", line.c_str());
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

// The count strings with the smallest hashes among the distinct usable
// strings that stand between two zero bytes: a spread that is the same on
// every run.
int make_dictionary(const char* program, std::size_t count, const char* out_path) {
    std::FILE* in = std::fopen(program, "rb");
    if (in == nullptr) return 1;
    std::set<std::pair<std::uint64_t, std::string>> kept;
    std::string current;
    bool after_zero = false;
    bool too_long = false;
    std::vector<unsigned char> buf(1 << 20);
    std::size_t got;
    while ((got = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
        for (std::size_t i = 0; i < got; ++i) {
            unsigned char c = buf[i];
            if (c != 0) {
                if (current.size() > 40) too_long = true;
                else current += static_cast<char>(c);
                continue;
            }
            if (after_zero && !too_long && usable(current)) {
                auto item = std::make_pair(hash_of(current), current);
                if (kept.size() < count || item < *kept.rbegin()) {
                    kept.insert(std::move(item));
                    if (kept.size() > count) kept.erase(std::prev(kept.end()));
                }
            }
            current.clear();
            too_long = false;
            after_zero = true;
        }
    }
    std::fclose(in);
    std::vector<std::string> originals;
    for (const auto& item : kept) originals.push_back(item.second);
    return write_pairs(originals, out_path);
}

int make_synthetic(std::size_t count, const char* out_path) {
    std::vector<std::string> originals;
    std::uint64_t state = 12345;
    for (std::size_t i = 0; i < count; ++i) {
        state = mix(state + 0x9E3779B97F4A7C15ULL);
        std::string word = "w";
        word += std::to_string(i);
        word += '_';
        for (std::size_t k = 0; k < 4 + state % 24; ++k) word += static_cast<char>('a' + (state >> (k % 58)) % 26);
        originals.push_back(word);
    }
    return write_pairs(originals, out_path);
}

int make_wide(const char* program, std::uint64_t size, const char* out_path) {
    std::FILE* in = std::fopen(program, "rb");
    std::FILE* out = std::fopen(out_path, "wb");
    if (in == nullptr || out == nullptr) return 1;
    std::string current;
    std::string copy;
    bool after_zero = false;
    std::uint64_t written = 0;
    auto put = [&](const std::string& bytes) {
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), size - written));
        std::fwrite(bytes.data(), 1, take, out);
        written += take;
    };
    std::vector<unsigned char> buf(1 << 20);
    std::size_t got;
    while (written < size && (got = std::fread(buf.data(), 1, buf.size(), in)) > 0) {
        std::size_t from = 0;
        for (std::size_t i = 0; i < got && written < size; ++i) {
            unsigned char c = buf[i];
            if (c != 0) {
                if (current.size() <= 40) current += static_cast<char>(c);
                continue;
            }
            if (!after_zero || !usable(current)) {
                current.clear();
                after_zero = true;
                continue;
            }
            put(std::string(reinterpret_cast<const char*>(buf.data() + from), i + 1 - from));
            from = i + 1;
            copy.assign(written % 2 + 2, '\0');  // a zero unit at an even offset before the text
            for (char t : current) {
                copy += t;
                copy += '\0';
            }
            copy.append(2, '\0');
            put(copy);
            current.clear();
        }
        if (written < size) put(std::string(reinterpret_cast<const char*>(buf.data() + from), got - from));
        if (written >= size) break;
        if (got < buf.size()) std::rewind(in);  // again from the start until SIZE is reached
    }
    std::fclose(in);
    return std::fclose(out) == 0 && written == size ? 0 : 1;
}

// The originals of a dictionary that write_pairs wrote: the text before
// the first blank of each line.
std::vector<std::string> originals_of(const char* path) {
    std::vector<std::string> out;
    std::FILE* in = std::fopen(path, "r");
    if (in == nullptr) return out;
    char line[256];
    while (std::fgets(line, sizeof line, in) != nullptr) {
        std::string l = line;
        std::size_t blank = l.find(' ');
        if (blank != std::string::npos && blank != 0) out.push_back(l.substr(0, blank));
    }
    std::fclose(in);
    return out;
}

int make_dense(const char* program, const char* dictionary, std::uint64_t size, const char* out_path) {
    std::vector<std::string> originals = originals_of(dictionary);
    std::set<std::string> known(originals.begin(), originals.end());
    std::FILE* in = std::fopen(program, "rb");
    std::FILE* out = std::fopen(out_path, "wb");
    if (in == nullptr || out == nullptr || originals.empty()) return 1;
    const std::uint64_t half = size / 2 & ~std::uint64_t{1};
    std::vector<unsigned char> buf(1 << 20);
    std::vector<std::string> others;  // usable strings of the program that are no original
    std::string current;
    std::uint64_t written = 0;
    while (written < half) {
        std::size_t got = std::fread(buf.data(), 1, static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), half - written)), in);
        if (got == 0) return 1;
        std::fwrite(buf.data(), 1, got, out);
        written += got;
        for (std::size_t i = 0; i < got && others.size() < 100000; ++i) {
            if (buf[i] != 0) {
                if (current.size() <= 40) current += static_cast<char>(buf[i]);
                continue;
            }
            if (usable(current) && known.count(current) == 0) others.push_back(current);
            current.clear();
        }
    }
    std::fclose(in);
    if (others.empty()) return 1;
    std::string units;
    for (std::size_t i = 0; written < size; ++i) {
        const std::string& text = i % 2 == 0 ? originals[(i / 2) % originals.size()] : others[(i / 2) % others.size()];
        units.assign(2, '\0');
        for (char c : text) {
            units += c;
            units += '\0';
        }
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(units.size(), size - written));
        std::fwrite(units.data(), 1, take, out);
        written += take;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "program" && argc == 4) return make_program(std::strtoull(argv[2], nullptr, 10), argv[3]);
    if (mode == "dictionary" && argc == 5) return make_dictionary(argv[2], std::strtoull(argv[3], nullptr, 10), argv[4]);
    if (mode == "synthetic" && argc == 4) return make_synthetic(std::strtoull(argv[2], nullptr, 10), argv[3]);
    if (mode == "wide" && argc == 5) return make_wide(argv[2], std::strtoull(argv[3], nullptr, 10), argv[4]);
    if (mode == "dense" && argc == 6) return make_dense(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10), argv[5]);
    std::fprintf(stderr,
                 "usage: bench_inputs program SIZE OUT < paths | dictionary PROGRAM COUNT OUT | synthetic COUNT OUT | "
                 "wide PROGRAM SIZE OUT | dense PROGRAM DICTIONARY SIZE OUT\n");
    return 2;
}
