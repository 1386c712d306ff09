// The look at a library file's headers before loading, on hand-made ELF and PE files: intact files
// pass, and every cut and every header that names bytes beyond the end is reported.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "host/library_file_check.h"

namespace {

using Bytes = std::string;

void put(Bytes& bytes, std::size_t offset, uint64_t value, std::size_t size, bool big = false) {
    for (std::size_t i = 0; i < size; ++i)
        bytes[offset + (big ? size - 1 - i : i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string damage(const Bytes& bytes) {
    std::istringstream file(bytes);
    return mphost::libraryFileDamage(file);
}

// A small ELF shared object, written by the layout the format defines: header, two program headers
// (a loadable segment over the whole file and a dynamic segment inside it), 256 bytes of contents,
// then three section headers (the null one, data in the file, and .bss, which has no bytes in it).
struct Elf {
    bool wide; // 64-bit class
    bool big;  // big-endian
    std::size_t headerSize() const { return wide ? 64 : 52; }
    std::size_t phSize() const { return wide ? 56 : 32; }
    std::size_t shSize() const { return wide ? 64 : 40; }
    std::size_t word() const { return wide ? 8 : 4; }
    std::size_t phOffset() const { return headerSize(); }
    std::size_t contents() const { return phOffset() + 2 * phSize(); }
    std::size_t shOffset() const { return contents() + 256; }
    std::size_t size() const { return shOffset() + 3 * shSize(); }

    // Field offsets within the header and the entries, for both classes.
    std::size_t phOffsetField() const { return wide ? 32 : 28; }
    std::size_t shOffsetField() const { return wide ? 40 : 32; }
    std::size_t phEntrySizeField() const { return wide ? 54 : 42; }
    std::size_t segmentOffsetField() const { return wide ? 8 : 4; }
    std::size_t segmentFileSizeField() const { return wide ? 32 : 16; }
    std::size_t sectionOffsetField() const { return wide ? 24 : 16; }
    std::size_t sectionSizeField() const { return wide ? 32 : 20; }

    Bytes build() const {
        Bytes b(size(), '\0');
        b[0] = 0x7F;
        b[1] = 'E';
        b[2] = 'L';
        b[3] = 'F';
        b[4] = wide ? 2 : 1;
        b[5] = big ? 2 : 1;
        b[6] = 1;
        put(b, 16, 3, 2, big); // a shared object
        put(b, phOffsetField(), phOffset(), word(), big);
        put(b, shOffsetField(), shOffset(), word(), big);
        put(b, phEntrySizeField(), phSize(), 2, big);
        put(b, phEntrySizeField() + 2, 2, 2, big);
        put(b, phEntrySizeField() + 4, shSize(), 2, big);
        put(b, phEntrySizeField() + 6, 3, 2, big);
        segment(b, 0, 1, 0, size());
        segment(b, 1, 2, contents(), 64);
        section(b, 1, 1, contents(), 128);
        section(b, 2, 8, contents() + 128, 100000); // .bss: its size is memory, not file
        return b;
    }
    void segment(Bytes& b, int index, uint32_t type, uint64_t offset, uint64_t fileSize) const {
        const std::size_t at = phOffset() + index * phSize();
        put(b, at, type, 4, big);
        put(b, at + segmentOffsetField(), offset, word(), big);
        put(b, at + segmentFileSizeField(), fileSize, word(), big);
    }
    void section(Bytes& b, int index, uint32_t type, uint64_t offset, uint64_t size) const {
        const std::size_t at = shOffset() + index * shSize();
        put(b, at + 4, type, 4, big);
        put(b, at + sectionOffsetField(), offset, word(), big);
        put(b, at + sectionSizeField(), size, word(), big);
    }
};

// A small PE library: DOS header, "PE\0\0", file header, a 224-byte optional header whose headers size
// is 0x200, two section headers, and the sections' raw data at 0x200 (0x200 bytes) and 0x400 (0x100).
struct Pe {
    static constexpr std::size_t kPeOffset = 0x80;
    static constexpr std::size_t kOptional = kPeOffset + 24;
    static constexpr std::size_t kSections = kOptional + 224;
    static constexpr std::size_t kSize = 0x500;

    static Bytes build() {
        Bytes b(kSize, '\0');
        b[0] = 'M';
        b[1] = 'Z';
        put(b, 0x3C, kPeOffset, 4);
        b.replace(kPeOffset, 4, Bytes("PE\0\0", 4));
        put(b, kPeOffset + 4, 0x14C, 2); // i386
        put(b, kPeOffset + 6, 2, 2);     // two sections
        put(b, kPeOffset + 20, 224, 2);  // optional header size
        put(b, kOptional, 0x10B, 2);     // PE32
        put(b, kOptional + 60, 0x200, 4);
        section(b, 0, ".text", 0x200, 0x200);
        section(b, 1, ".data", 0x400, 0x100);
        return b;
    }
    static void section(Bytes& b, int index, const char* name, uint32_t offset, uint32_t size) {
        const std::size_t at = kSections + index * 40;
        b.replace(at, std::char_traits<char>::length(name), name);
        put(b, at + 16, size, 4);
        put(b, at + 20, offset, 4);
    }
};

TEST(LibraryFileCheck, IntactFilesAndFilesOfOtherKindsPass) {
    for (const Elf elf : {Elf{true, false}, Elf{true, true}, Elf{false, false}, Elf{false, true}}) {
        SCOPED_TRACE(std::string(elf.wide ? "64" : "32") + (elf.big ? " big" : " little"));
        EXPECT_EQ(damage(elf.build()), "");
    }
    EXPECT_EQ(damage(Pe::build()), "");
    // Not a library format at all, or too short to say: the loader refuses those in its own words.
    EXPECT_EQ(damage(""), "");
    EXPECT_EQ(damage("\x7F"
                     "EL"),
              "");
    EXPECT_EQ(damage("M"), "");
    EXPECT_EQ(damage("#!/bin/sh\necho not a library\n"), "");
    // A DOS program: "MZ" without a PE signature where the DOS header points.
    Bytes dos = Pe::build();
    dos[Pe::kPeOffset] = 'X';
    EXPECT_EQ(damage(dos), "");
}

TEST(LibraryFileCheck, EveryCutOfAFileIsReported) {
    const Elf elves[] = {{true, false}, {false, true}};
    for (const Elf& elf : elves) {
        const Bytes whole = elf.build();
        for (std::size_t length = 4; length < whole.size(); ++length)
            EXPECT_NE(damage(whole.substr(0, length)), "")
                << (elf.wide ? "64" : "32") << "-bit ELF cut at " << length;
    }
    const Bytes pe = Pe::build();
    for (std::size_t length = 2; length < pe.size(); ++length)
        EXPECT_NE(damage(pe.substr(0, length)), "") << "PE cut at " << length;

    // The sentence names the part that is missing and the file's length.
    EXPECT_EQ(damage(elves[0].build().substr(0, 40)),
              "the file is damaged or cut short: the ELF header is incomplete (the file has 40 bytes)");
    EXPECT_EQ(
        damage(pe.substr(0, 0x480)),
        "the file is damaged or cut short: section 1 (.data) spans bytes 1024 to 1280, beyond its end at "
        "1152 bytes");
}

TEST(LibraryFileCheck, HeadersNamingBytesBeyondTheEndAreReported) {
    const Elf elf{true, false};
    const uint64_t size = elf.size();
    struct Case {
        const char* what;
        void (*change)(const Elf&, Bytes&);
        const char* fragment;
    };
    const Case cases[] = {
        {"program header table beyond the end",
         [](const Elf& e, Bytes& b) { put(b, e.phOffsetField(), e.size() - 8, 8); },
         "the program header table"},
        {"loadable segment one byte longer than the file",
         [](const Elf& e, Bytes& b) { e.segment(b, 0, 1, 0, e.size() + 1); }, "segment 0 (program header 0)"},
        {"segment whose end wraps around 2^64",
         [](const Elf& e, Bytes& b) { e.segment(b, 1, 2, UINT64_MAX - 15, 32); }, "segment 1"},
        {"section data beyond the end", [](const Elf& e, Bytes& b) { e.section(b, 1, 1, e.size() - 10, 11); },
         "section 1 spans"},
        {"section header table beyond the end",
         [](const Elf& e, Bytes& b) { put(b, e.shOffsetField(), e.size(), 8); }, "the section header table"},
        {"program headers too small to hold one",
         [](const Elf& e, Bytes& b) { put(b, e.phEntrySizeField(), 8, 2); },
         "fewer than a program header holds"},
        {"unknown class", [](const Elf&, Bytes& b) { b[4] = 7; }, "no known class"},
    };
    for (const Case& c : cases) {
        Bytes bytes = elf.build();
        c.change(elf, bytes);
        EXPECT_NE(damage(bytes).find(c.fragment), std::string::npos) << c.what << ": " << damage(bytes);
    }
    // Entries without bytes in the file are not held to it: a null segment and .bss.
    Bytes bytes = elf.build();
    elf.segment(bytes, 1, 0, UINT64_MAX, UINT64_MAX);
    EXPECT_EQ(damage(bytes), "");
    EXPECT_EQ(bytes.size(), size);

    const struct {
        const char* what;
        std::size_t at, size;
        uint64_t value;
        const char* fragment;
    } peCases[] = {
        {"PE header offset beyond the end", 0x3C, 4, Pe::kSize, "the PE signature"},
        {"optional header longer than the file", Pe::kPeOffset + 20, 2, 0xFFFF, "the optional header"},
        {"headers size beyond the end", Pe::kOptional + 60, 4, Pe::kSize + 1, "the headers spans"},
        {"more sections than the file holds", Pe::kPeOffset + 6, 2, 0xFFFF, "the section table"},
        {"raw data of a section beyond the end", Pe::kSections + 16, 4, 0x400, "section 0 (.text)"},
        {"raw data offset near 2^32", Pe::kSections + 40 + 20, 4, 0xFFFFFFF0u, "section 1 (.data)"},
    };
    for (const auto& c : peCases) {
        Bytes pe = Pe::build();
        put(pe, c.at, c.value, c.size);
        EXPECT_NE(damage(pe).find(c.fragment), std::string::npos) << c.what << ": " << damage(pe);
    }
    // Parts given as file offsets outside the sections: a certificate table, a symbol table and the
    // string table after it. Inside the file they pass; past its end they are reported.
    Bytes signedPe = Pe::build();
    put(signedPe, Pe::kOptional + 128, 0x480, 4);
    put(signedPe, Pe::kOptional + 132, 0x80, 4);
    EXPECT_EQ(damage(signedPe), "");
    put(signedPe, Pe::kOptional + 132, 0x81, 4);
    EXPECT_NE(damage(signedPe).find("the certificate table spans bytes 1152 to 1281"), std::string::npos)
        << damage(signedPe);
    Bytes symbols = Pe::build();
    put(symbols, Pe::kPeOffset + 4 + 8, 0x480, 4); // one 18-byte symbol, then the string table
    put(symbols, Pe::kPeOffset + 4 + 12, 1, 4);
    put(symbols, 0x480 + 18, 20, 4);
    EXPECT_EQ(damage(symbols), "");
    put(symbols, 0x480 + 18, 0x100, 4);
    EXPECT_NE(damage(symbols).find("the string table"), std::string::npos) << damage(symbols);
    put(symbols, Pe::kPeOffset + 4 + 12, 10, 4);
    EXPECT_NE(damage(symbols).find("the symbol table"), std::string::npos) << damage(symbols);
}

} // namespace
