// Packages no office suite writes, made with libzip at test time: entries whose compressed bytes
// are given (a stream of zeros deflated to a thousandth, 10 stored bytes declaring a terabyte),
// streamed to libzip piece by piece so that even a package declaring gigabytes costs a few
// megabytes and milliseconds to make. Shared by the tests and the filling benchmark.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <zip.h>
#include <zlib.h>

namespace hostile_zip {

// An entry's bytes as stored: head, then block repeated, then tail; with the method and the
// inflated size and CRC the archive is to declare for them.
struct Stored {
    std::string head, block;
    std::uint64_t repeat = 0;
    std::string tail;
    zip_int32_t method = ZIP_CM_STORE;
    std::uint64_t size = 0;  // declared
    std::uint32_t crc = 0;   // declared
    std::uint64_t length() const { return head.size() + block.size() * repeat + tail.size(); }
};

struct Entry {
    std::string name;
    std::string text;              // plain contents, deflated by libzip ("mimetype" stored)
    std::optional<Stored> stored;  // or bytes given as stored
};

// The CRC of count repetitions of a block whose CRC is crc.
inline std::uint32_t crc_repeated(std::uint32_t crc, std::uint64_t length, std::uint64_t count)
{
    std::uint32_t total = 0;
    // Doubling: the CRC of 2^k blocks combined into the total for each bit of count.
    std::uint32_t power = crc;
    std::uint64_t power_length = length;
    for (; count; count >>= 1) {
        if (count & 1) total = static_cast<std::uint32_t>(crc32_combine64(total, power, static_cast<z_off64_t>(power_length)));
        power = static_cast<std::uint32_t>(crc32_combine64(power, power, static_cast<z_off64_t>(power_length)));
        power_length *= 2;
    }
    return total;
}

inline std::uint32_t crc_of(std::string_view bytes)
{
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// A raw deflate stream of head followed by count copies of chunk: each copy is flushed whole, so
// its compressed bytes repeat and are made once.
inline Stored deflated(std::string_view head, std::string_view chunk, std::uint64_t count, int level = 9)
{
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
    auto put = [&](std::string_view in, int flush) {
        std::string out;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        char buffer[1 << 16];
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0 || z.avail_in > 0);
        return out;
    };
    Stored s;
    s.method = ZIP_CM_DEFLATE;
    s.head = put(head, Z_FULL_FLUSH);
    if (count > 0) {
        s.head += put(chunk, Z_FULL_FLUSH);
        s.block = put(chunk, Z_FULL_FLUSH);
        if (count > 2 && put(chunk, Z_FULL_FLUSH) != s.block) throw std::runtime_error("deflate blocks do not repeat");
        s.repeat = count - 1;
    }
    s.tail = put({}, Z_FINISH);
    deflateEnd(&z);
    s.size = head.size() + chunk.size() * count;
    s.crc = static_cast<std::uint32_t>(crc32_combine64(crc_of(head), crc_repeated(crc_of(chunk), chunk.size(), count),
                                                       static_cast<z_off64_t>(chunk.size() * count)));
    return s;
}

// count copies of chunk, stored as they are.
inline Stored stored(std::string_view chunk, std::uint64_t count)
{
    Stored s;
    s.block = chunk;
    s.repeat = count;
    s.size = chunk.size() * count;
    s.crc = crc_repeated(crc_of(chunk), chunk.size(), count);
    return s;
}

// A few bytes, deflated, declaring another inflated size (libzip would count stored bytes itself).
inline Stored forged(std::string_view bytes, std::uint64_t declared)
{
    Stored s = deflated(bytes, {}, 0);
    s.size = declared;
    return s;
}

// libzip reads a given entry through this: its statistics say the data is already compressed,
// so libzip copies the bytes as they come.
struct Reader {
    const Stored *s;
    std::uint64_t at = 0;
    zip_error_t error{};
};

inline zip_int64_t read_stored(void *userdata, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *r = static_cast<Reader *>(userdata);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        r->at = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        auto *out = static_cast<char *>(data);
        zip_uint64_t done = 0;
        const Stored &s = *r->s;
        while (done < length && r->at < s.length()) {
            std::uint64_t at = r->at;
            std::string_view piece;
            if (at < s.head.size()) {
                piece = std::string_view(s.head).substr(at);
            } else if ((at -= s.head.size()) < s.block.size() * s.repeat) {
                piece = std::string_view(s.block).substr(at % s.block.size());
            } else {
                piece = std::string_view(s.tail).substr(at - s.block.size() * s.repeat);
            }
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), length - done));
            std::copy_n(piece.data(), n, out + done);
            done += n;
            r->at += n;
        }
        return static_cast<zip_int64_t>(done);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto *st = static_cast<zip_stat_t *>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_ENCRYPTION_METHOD;
        st->size = r->s->size;
        st->comp_size = r->s->length();
        st->comp_method = static_cast<zip_uint16_t>(r->s->method);
        st->crc = r->s->crc;
        st->encryption_method = ZIP_EM_NONE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&r->error, data, length);
    case ZIP_SOURCE_FREE:
        delete r;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        return -1;
    }
}

// Writes the entries in order. Two entries may carry one name: the second is added under a
// stand-in of the same length, which is then written over in the finished file.
inline void write(const std::filesystem::path &path, const std::vector<Entry> &entries)
{
    int error = 0;
    zip_t *za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!za) throw std::runtime_error("zip_open");
    std::vector<std::pair<std::string, std::string>> renames;
    std::vector<std::string> names;
    for (const Entry &e : entries) {
        std::string name = e.name;
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            name.back() = name.back() == '#' ? '%' : '#';
            renames.emplace_back(name, e.name);
        }
        names.push_back(name);
        zip_source_t *source = e.stored ? zip_source_function(za, read_stored, new Reader{&*e.stored})
                                        : zip_source_buffer(za, e.text.data(), e.text.size(), 0);
        const zip_int64_t i = zip_file_add(za, name.c_str(), source, 0);
        if (i < 0) throw std::runtime_error(zip_strerror(za));
        const bool store = e.stored ? e.stored->method == ZIP_CM_STORE : e.name == "mimetype";
        if (store) zip_set_file_compression(za, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
        zip_file_set_mtime(za, static_cast<zip_uint64_t>(i), 1577836800, 0);
    }
    if (zip_close(za) != 0) throw std::runtime_error(zip_strerror(za));
    if (renames.empty()) return;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (const auto &[from, to] : renames)
        for (std::size_t at = 0; (at = bytes.find(from, at)) != std::string::npos; at += to.size()) bytes.replace(at, to.size(), to);
    file.seekp(0);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace hostile_zip
