// The video module: FFmpeg's part of IPQVIDEOFRAMES (video_decoding.cpp), built as the loadable
// module lumba-video.so and opened on the first video call (core/modules.h), so that FFmpeg and
// the hundred-odd libraries it brings are loaded only by a program that samples a video.
//
// The module links FFmpeg alone: what it needs of the run-time (the large object's reads, the log,
// the random source, the safe writing of a picture) comes in a VideoHost with each call.
#pragma once

#include <cstddef>
#include <cstdint>

struct VideoHost {
    // FFmpeg's custom I/O over the caller's reader (a LoReader).
    int (*read)(void *reader, std::uint8_t *buffer, int size);
    std::int64_t (*seek)(void *reader, std::int64_t offset, int whence);
    void (*log)(const char *line);  // one line of the run-time log at level 3
    long (*random)();               // the source the frames are picked with
    // Writes an encoded picture as "<prefix><position>.png"; false, its failure logged, when it
    // cannot be written.
    bool (*write_picture)(const char *prefix, std::size_t position, const std::uint8_t *bytes, std::size_t size);
};

// The module's entry table, exported as lumba_video_module.
struct VideoModule {
    // The main pass over the open large object: its result code, FFmpeg's last result in *last.
    int (*sample_frames)(const VideoHost *host, void *reader, int count, const char *prefix, int *last);
    // The frames the decoder yields for the first video stream, read from the start of the large
    // object, which is then set back to its start; a negative code when it cannot be read.
    int (*count_frames)(const VideoHost *host, void *reader);
    // FFmpeg's text for one of its results.
    void (*error_text)(int code, char *text, std::size_t size);
};

inline constexpr const char *VIDEO_MODULE_FILE = "lumba-video.so";
inline constexpr const char *VIDEO_MODULE_ENTRY = "lumba_video_module";
