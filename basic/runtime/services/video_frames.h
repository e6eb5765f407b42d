// Video frames: a video kept in the database as a large object, sampled into PNG pictures.
//
// IPQVIDEOFRAMES decodes the video straight from the large object (FFmpeg's demuxers over
// libpq's large-object reads), counts its frames, picks some of them at random and writes each
// picked frame, converted to 24-bit RGB, as the PNG picture "<prefix><position>.png". Every fault
// becomes a result code with a line in the run-time log at level 3; nothing ends the run.
#pragma once

#include <cstdint>

#include <libpq-fe.h>

// Result codes of ipqvideoframes (the log line of each is in video_frames.cpp).
enum VideoFramesResult : int {
    VF_DONE = 0,                 // every picked frame written, or the video ended first
    VF_NO_TRANSACTION = 100,     // bad handle, a failed block, or BEGIN refused
    VF_LO_OPEN = 101,
    VF_LO_CLOSE = 102,
    VF_OPEN_INPUT = 103,
    VF_END = 104,                // END refused
    VF_FORMAT_CONTEXT = 105,
    VF_IO_BUFFER = 106,
    VF_IO_CONTEXT = 107,
    VF_STREAM_INFO = 108,
    VF_NO_VIDEO = 109,
    VF_DECODER = 110,
    VF_DECODER_CONTEXT = 111,
    VF_PARAMETERS = 112,
    VF_OPEN_DECODER = 113,
    VF_FRAME = 114,
    VF_PNG = 115,
    VF_PNG_CONTEXT = 116,
    VF_OPEN_PNG = 120,
    VF_SEND_FRAME = 121,
    VF_RECEIVE_PACKET = 123,
    VF_PICTURE_FILE = 124,
    VF_SEND_PACKET = 125,
    VF_RECEIVE_FRAME = 126,
    VF_CONVERTER = 127,
    VF_RGB_FRAME = 128,
    VF_SCALE = 129,
    VF_NO_FRAMES = 130,          // no frame to pick, a count below 1, or no RGB frame buffer
};

// IPQVIDEOFRAMES: writes min(count, frames) distinct frames of the large object oid, picked at
// random and in ascending frame order, as "<prefix><position>.png" (position 0 up). A picture
// name that is a symbolic link is not written through (124).
//
// The reads need a transaction block: on an idle connection the call sends BEGIN before and END
// after; inside a healthy block they run under a savepoint that is released afterwards, or rolled
// back to first when a read failed, so the caller's block stays usable whatever the result; a
// failed block gives 100 and nothing is sent. A count below 1 gives 130 before anything is sent.
// The large object is closed on every way out.
int ipqvideoframes(int handle, long oid, int count, const char *prefix);

// ---- The pieces, for tests ----------------------------------------------------------------------

// What FFmpeg's custom I/O reads through: a connection and an open large object's descriptor.
struct LoReader {
    PGconn *conn;
    int fd;
};
// Up to size bytes of the large object; AVERROR_EOF at its end, AVERROR(EIO) when the read fails.
int avideo_lo_read(void *reader, std::uint8_t *buffer, int size);
// A seek of the large object (AVSEEK_FORCE dropped); the size query (AVSEEK_SIZE) answers -1, the
// size being unknown.
std::int64_t avideo_lo_seek(void *reader, std::int64_t offset, int whence);
// The frames the decoder yields for the first video stream, read from the start of the large
// object, which is then set back to its start; a negative code when it cannot be read.
int avideo_nframes(LoReader *reader);

// The random source frames are picked with (random() by default); a test may install its own.
// Returns the source it replaces; nullptr restores the default.
using VideoRandom = long (*)();
VideoRandom set_video_random(VideoRandom source);
