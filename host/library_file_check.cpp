#include "host/library_file_check.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace mphost {

namespace {

// Reads fixed-size pieces of a file at given offsets; never more than the piece asked for.
class HeaderReader {
public:
    explicit HeaderReader(std::istream& file) : file(file) {
        file.seekg(0, std::ios::end);
        const std::streamoff end = file.tellg();
        fileSize = end > 0 ? static_cast<uint64_t>(end) : 0;
    }

    uint64_t size() const { return fileSize; }

    // True when offset + count lies within the file, without overflow.
    bool holds(uint64_t offset, uint64_t count) const {
        return offset <= fileSize && count <= fileSize - offset;
    }

    // Reads count (at most 64) bytes at offset; false when they are not all in the file.
    bool read(uint64_t offset, unsigned char* out, std::size_t count) {
        if (!holds(offset, count))
            return false;
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
        return static_cast<std::size_t>(file.gcount()) == count;
    }

private:
    std::istream& file;
    uint64_t fileSize = 0;
};

// Unsigned integers of 1 to 8 bytes in either byte order.
uint64_t number(const unsigned char* bytes, std::size_t count, bool bigEndian) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value |= uint64_t{bytes[bigEndian ? count - 1 - i : i]} << (8 * i);
    return value;
}

std::string beyondEnd(const std::string& part, uint64_t offset, uint64_t count, uint64_t size) {
    return "the file is damaged or cut short: " + part + " spans bytes " + std::to_string(offset) + " to " +
           std::to_string(offset + count < offset ? UINT64_MAX : offset + count) + ", beyond its end at " +
           std::to_string(size) + " bytes";
}

std::string cutShort(const std::string& part, uint64_t size) {
    return "the file is damaged or cut short: " + part + " is incomplete (the file has " +
           std::to_string(size) + " bytes)";
}

// The offsets and sizes of an ELF file's headers differ between the 32- and 64-bit classes.
struct ElfLayout {
    std::size_t headerSize, phOffsetAt, shOffsetAt, addressSize, phEntrySizeAt;
    std::size_t phEntryMinimum, segmentOffsetAt, segmentFileSizeAt;
    std::size_t shEntryMinimum, sectionOffsetAt, sectionSizeAt;
};
constexpr ElfLayout kElf32{52, 28, 32, 4, 42, 32, 4, 16, 40, 16, 20};
constexpr ElfLayout kElf64{64, 32, 40, 8, 54, 56, 8, 32, 64, 24, 32};

constexpr uint32_t kSegmentNull = 0;
constexpr uint32_t kSectionNull = 0;
constexpr uint32_t kSectionNoBits = 8; // occupies no bytes in the file (.bss)

std::string elfDamage(HeaderReader& reader) {
    unsigned char ident[16];
    if (!reader.read(0, ident, sizeof(ident)))
        return cutShort("the ELF header", reader.size());
    if (ident[4] != 1 && ident[4] != 2)
        return "the file is damaged: its ELF header names no known class (" + std::to_string(ident[4]) + ")";
    if (ident[5] != 1 && ident[5] != 2)
        return "the file is damaged: its ELF header names no known byte order (" + std::to_string(ident[5]) +
               ")";
    const ElfLayout& layout = ident[4] == 1 ? kElf32 : kElf64;
    const bool big = ident[5] == 2;
    const std::size_t word = layout.addressSize;

    unsigned char header[64];
    if (!reader.read(0, header, layout.headerSize))
        return cutShort("the ELF header", reader.size());
    const uint64_t phOffset = number(header + layout.phOffsetAt, word, big);
    const uint64_t shOffset = number(header + layout.shOffsetAt, word, big);
    const uint64_t phEntrySize = number(header + layout.phEntrySizeAt, 2, big);
    const uint64_t phCount = number(header + layout.phEntrySizeAt + 2, 2, big);
    const uint64_t shEntrySize = number(header + layout.phEntrySizeAt + 4, 2, big);
    uint64_t shCount = number(header + layout.phEntrySizeAt + 6, 2, big);

    if (phCount > 0) {
        if (phEntrySize < layout.phEntryMinimum)
            return "the file is damaged: its program headers are " + std::to_string(phEntrySize) +
                   " bytes each, fewer than a program header holds";
        if (!reader.holds(phOffset, phCount * phEntrySize))
            return beyondEnd("the program header table", phOffset, phCount * phEntrySize, reader.size());
    }
    for (uint64_t i = 0; i < phCount; ++i) {
        unsigned char entry[64];
        reader.read(phOffset + i * phEntrySize, entry, layout.phEntryMinimum);
        const uint64_t type = number(entry, 4, big);
        const uint64_t offset = number(entry + layout.segmentOffsetAt, word, big);
        const uint64_t fileSize = number(entry + layout.segmentFileSizeAt, word, big);
        if (type != kSegmentNull && fileSize > 0 && !reader.holds(offset, fileSize))
            return beyondEnd("segment " + std::to_string(i) + " (program header " + std::to_string(i) + ")",
                             offset, fileSize, reader.size());
    }

    if (shOffset == 0)
        return std::string(); // no section headers: the loader does not need them
    // With more sections than the header can count, the count is in the first section header; its
    // place alone is checked then.
    if (shCount == 0)
        shCount = 1;
    if (shEntrySize < layout.shEntryMinimum)
        return "the file is damaged: its section headers are " + std::to_string(shEntrySize) +
               " bytes each, fewer than a section header holds";
    if (!reader.holds(shOffset, shCount * shEntrySize))
        return beyondEnd("the section header table", shOffset, shCount * shEntrySize, reader.size());
    for (uint64_t i = 0; i < shCount; ++i) {
        unsigned char entry[64];
        reader.read(shOffset + i * shEntrySize, entry, layout.shEntryMinimum);
        const uint64_t type = number(entry + 4, 4, big);
        const uint64_t offset = number(entry + layout.sectionOffsetAt, word, big);
        const uint64_t size = number(entry + layout.sectionSizeAt, word, big);
        if (type != kSectionNull && type != kSectionNoBits && size > 0 && !reader.holds(offset, size))
            return beyondEnd("section " + std::to_string(i), offset, size, reader.size());
    }
    return std::string();
}

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kPeOffsetAt = 0x3C;
constexpr uint64_t kCoffHeaderSize = 20;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kHeadersSizeAt = 60; // SizeOfHeaders, in PE32 and PE32+ optional headers alike
constexpr uint64_t kPe32PlusMagic = 0x20B;
constexpr uint64_t kSymbolSize = 18;

// A little-endian number of up to 8 bytes the caller has made sure lies within the file.
uint64_t readNumber(HeaderReader& reader, uint64_t offset, std::size_t count) {
    unsigned char bytes[8] = {};
    reader.read(offset, bytes, count);
    return number(bytes, count, false);
}

std::string peDamage(HeaderReader& reader) {
    unsigned char dos[kDosHeaderSize];
    if (!reader.read(0, dos, sizeof(dos)))
        return cutShort("the DOS header", reader.size());
    const uint64_t peOffset = number(dos + kPeOffsetAt, 4, false);
    unsigned char signature[4];
    if (!reader.read(peOffset, signature, sizeof(signature)))
        return beyondEnd("the PE signature", peOffset, sizeof(signature), reader.size());
    if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0)
        return std::string(); // a DOS program, not a library: the loader refuses it
    unsigned char coff[kCoffHeaderSize];
    if (!reader.read(peOffset + 4, coff, sizeof(coff)))
        return beyondEnd("the PE file header", peOffset + 4, kCoffHeaderSize, reader.size());
    const uint64_t sectionCount = number(coff + 2, 2, false);
    const uint64_t optionalSize = number(coff + 16, 2, false);
    const uint64_t optionalOffset = peOffset + 4 + kCoffHeaderSize;
    if (!reader.holds(optionalOffset, optionalSize))
        return beyondEnd("the optional header", optionalOffset, optionalSize, reader.size());
    if (optionalSize >= kHeadersSizeAt + 4) {
        unsigned char headersSize[4];
        reader.read(optionalOffset + kHeadersSizeAt, headersSize, sizeof(headersSize));
        const uint64_t size = number(headersSize, 4, false);
        if (!reader.holds(0, size))
            return beyondEnd("the headers", 0, size, reader.size());
    }
    // The certificate table (data directory 4) is the one directory given as a file offset.
    const uint64_t magic = optionalSize >= 2 ? readNumber(reader, optionalOffset, 2) : 0;
    const uint64_t directories = magic == kPe32PlusMagic ? 112 : 96;
    if (optionalSize >= directories + 5 * 8) {
        const uint64_t offset = readNumber(reader, optionalOffset + directories + 4 * 8, 4);
        const uint64_t size = readNumber(reader, optionalOffset + directories + 4 * 8 + 4, 4);
        if (size > 0 && !reader.holds(offset, size))
            return beyondEnd("the certificate table", offset, size, reader.size());
    }
    // A symbol table left in the file, and the string table that follows it.
    const uint64_t symbolOffset = number(coff + 8, 4, false);
    const uint64_t symbolCount = number(coff + 12, 4, false);
    if (symbolOffset != 0) {
        const uint64_t stringsOffset = symbolOffset + symbolCount * kSymbolSize;
        if (!reader.holds(symbolOffset, symbolCount * kSymbolSize + 4))
            return beyondEnd("the symbol table", symbolOffset, symbolCount * kSymbolSize + 4, reader.size());
        const uint64_t stringsSize = readNumber(reader, stringsOffset, 4);
        if (!reader.holds(stringsOffset, stringsSize))
            return beyondEnd("the string table", stringsOffset, stringsSize, reader.size());
    }
    const uint64_t tableOffset = optionalOffset + optionalSize;
    if (!reader.holds(tableOffset, sectionCount * kSectionHeaderSize))
        return beyondEnd("the section table", tableOffset, sectionCount * kSectionHeaderSize, reader.size());
    for (uint64_t i = 0; i < sectionCount; ++i) {
        unsigned char section[kSectionHeaderSize];
        reader.read(tableOffset + i * kSectionHeaderSize, section, sizeof(section));
        const uint64_t rawSize = number(section + 16, 4, false);
        const uint64_t rawOffset = number(section + 20, 4, false);
        if (rawSize > 0 && !reader.holds(rawOffset, rawSize)) {
            std::string name;
            for (int c = 0; c < 8 && section[c] >= 0x21 && section[c] < 0x7F; ++c)
                name += static_cast<char>(section[c]);
            return beyondEnd("section " + std::to_string(i) + (name.empty() ? "" : " (" + name + ")"),
                             rawOffset, rawSize, reader.size());
        }
    }
    return std::string();
}

} // namespace

std::string libraryFileDamage(std::istream& file) {
    HeaderReader reader(file);
    unsigned char magic[4];
    if (reader.read(0, magic, 4) && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F')
        return elfDamage(reader);
    if (reader.read(0, magic, 2) && magic[0] == 'M' && magic[1] == 'Z')
        return peDamage(reader);
    return std::string();
}

std::string libraryFileDamage(const std::string& path) {
    std::error_code error;
    // A FIFO or device is not read here: opening a FIFO would wait for a writer.
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), error))
        return std::string();
    std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
    if (!file)
        return std::string();
    return libraryFileDamage(file);
}

} // namespace mphost
