#include "commands/zip_entries.h"

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace talvoro {

namespace {

std::uint32_t number(const std::string& bytes, std::size_t at, int width) {
    if (at + width > bytes.size())
        throw std::runtime_error("архив обрывается");
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::string inflated(const std::string& packed, std::size_t size) {
    std::string out(size, '\0');
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        throw std::runtime_error("zlib не запустился");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    if (result != Z_STREAM_END || stream.total_out != size)
        throw std::runtime_error("запись архива не распаковалась");
    return out;
}

} // namespace

std::map<std::string, std::string> zipEntries(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("не открыть " + path);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // The end record sits in the last 22 bytes plus an archive comment of up to 64 KiB.
    std::size_t end = std::string::npos;
    for (std::size_t at = bytes.size() >= 22 ? bytes.size() - 22 : 0;; --at) {
        if (number(bytes, at, 4) == 0x06054b50) {
            end = at;
            break;
        }
        if (at == 0 || bytes.size() - at > 22 + 65535)
            break;
    }
    if (end == std::string::npos)
        throw std::runtime_error("не zip: " + path);
    const std::uint32_t entries = number(bytes, end + 10, 2);
    std::size_t at = number(bytes, end + 16, 4);
    std::map<std::string, std::string> files;
    for (std::uint32_t i = 0; i < entries; ++i) {
        if (number(bytes, at, 4) != 0x02014b50)
            throw std::runtime_error("оглавление архива испорчено");
        const std::uint32_t method = number(bytes, at + 10, 2);
        const std::uint32_t packedSize = number(bytes, at + 20, 4);
        const std::uint32_t size = number(bytes, at + 24, 4);
        const std::uint32_t nameLength = number(bytes, at + 28, 2);
        const std::uint32_t extra = number(bytes, at + 30, 2);
        const std::uint32_t comment = number(bytes, at + 32, 2);
        const std::uint32_t local = number(bytes, at + 42, 4);
        const std::string name = bytes.substr(at + 46, nameLength);
        at += 46 + nameLength + extra + comment;

        const std::size_t data =
            local + 30 + number(bytes, local + 26, 2) + number(bytes, local + 28, 2);
        if (data + packedSize > bytes.size())
            throw std::runtime_error("запись архива обрывается");
        const std::string packed = bytes.substr(data, packedSize);
        if (method == 0)
            files[name] = packed;
        else if (method == 8)
            files[name] = inflated(packed, size);
        else
            throw std::runtime_error("незнакомое сжатие в архиве");
    }
    return files;
}

} // namespace talvoro
