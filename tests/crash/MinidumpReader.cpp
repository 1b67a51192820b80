#include "tests/crash/MinidumpReader.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace crashtest {

namespace md = sys::minidump;

MinidumpReader::MinidumpReader(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path.string());
    }
    data_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const auto header = Read<md::Header>(Range(0, sizeof(md::Header)));
    if (header.signature != md::kSignature || (header.version & 0xffff) != md::kVersion) {
        throw std::runtime_error("no minidump header");
    }
    const std::string_view entries = Range(
        header.streamDirectoryRva, std::uint64_t{header.numberOfStreams} * sizeof(md::Directory));
    for (std::uint32_t i = 0; i < header.numberOfStreams; ++i) {
        const auto entry = Read<md::Directory>(entries, i * sizeof(md::Directory));
        Bytes(entry.location);  // checks that the stream lies inside the file
        directory_.push_back(entry);
    }
}

std::string_view MinidumpReader::Stream(std::uint32_t type) const {
    for (const md::Directory& entry : directory_) {
        if (entry.streamType == type) {
            return Bytes(entry.location);
        }
    }
    throw std::runtime_error("no stream of type " + std::to_string(type));
}

md::ExceptionStream MinidumpReader::Exception() const {
    return Read<md::ExceptionStream>(Stream(md::kExceptionStream));
}

std::vector<md::Thread> MinidumpReader::Threads() const {
    const std::string_view stream = Stream(md::kThreadListStream);
    const auto count = Read<std::uint32_t>(stream);
    std::vector<md::Thread> threads;
    for (std::uint32_t i = 0; i < count; ++i) {
        threads.push_back(Read<md::Thread>(stream, sizeof(count) + i * sizeof(md::Thread)));
    }
    return threads;
}

std::vector<md::MemoryDescriptor> MinidumpReader::MemoryList() const {
    const std::string_view stream = Stream(md::kMemoryListStream);
    const auto count = Read<std::uint32_t>(stream);
    std::vector<md::MemoryDescriptor> ranges;
    for (std::uint32_t i = 0; i < count; ++i) {
        ranges.push_back(
            Read<md::MemoryDescriptor>(stream, sizeof(count) + i * sizeof(md::MemoryDescriptor)));
        Bytes(ranges.back().memory);
    }
    return ranges;
}

md::ContextAmd64 MinidumpReader::Context(const md::LocationDescriptor& where) const {
    if (where.dataSize != sizeof(md::ContextAmd64)) {
        throw std::runtime_error("thread context of unexpected size");
    }
    return Read<md::ContextAmd64>(Bytes(where));
}

std::string_view MinidumpReader::Bytes(const md::LocationDescriptor& where) const {
    return Range(where.rva, where.dataSize);
}

std::string_view MinidumpReader::Range(std::uint64_t rva, std::uint64_t size) const {
    if (rva > data_.size() || size > data_.size() - rva) {
        throw std::runtime_error("range " + std::to_string(rva) + "+" + std::to_string(size) +
                                 " beyond the end of the dump");
    }
    return std::string_view(data_).substr(rva, size);
}

template <typename T>
T MinidumpReader::Read(std::string_view bytes, std::size_t at) const {
    if (at > bytes.size() || sizeof(T) > bytes.size() - at) {
        throw std::runtime_error("record cut short");
    }
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof(T));
    return value;
}

}  // namespace crashtest
