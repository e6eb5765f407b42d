// FFmpeg's part of IPQVIDEOFRAMES, built as the loadable module lumba-video.so (video_module.h):
// decoding a video read through the run-time's large-object reader, counting and picking its
// frames and encoding the picked ones as PNG pictures.
//
// The video is read twice from the database: once whole to count the frames its decoder yields,
// and once up to the last picked frame. Only picked frames are converted and encoded. Both passes
// open the video by the same steps; each names a failed step by a code and log line of its own.
#include "video_module.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "video_frames.h"

namespace {

constexpr const char *MAIN_PASS = "ipqvideoframes";
constexpr const char *COUNTING_PASS = "avideo_nframes";
constexpr int IO_BUFFER_SIZE = 4096;

// The run-time's side of the call under way.
const VideoHost *host = nullptr;

// Every line of the video code goes to the run-time log at level 3.
[[gnu::format(printf, 1, 2)]] void vlog(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::va_list again;
    va_copy(again, ap);
    const int length = std::vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    std::vector<char> line(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, again);
    va_end(again);
    host->log(line.data());
}

// FFmpeg's text for a result (at most 63 characters).
std::string av_text(int code)
{
    char text[64];
    av_strerror(code, text, sizeof text);
    return text;
}

// ---- Opening a video -----------------------------------------------------------------------------

// The steps that open a video for decoding and decode it, in the order both passes take them.
enum Step {
    format_context, io_buffer, io_context, open_input, stream_info, video_stream, decoder, decoder_context,
    parameters, open_decoder, frame_buffer, send_packet, receive_frame, STEPS
};

struct Failure {
    Step step;
    int error;  // FFmpeg's result, 0 for a failed allocation
};
using Outcome = std::optional<Failure>;

// What a pass answers for a failed step: its code and its log line (the second "%s" is FFmpeg's
// text of the error, where the line has one).
struct StepAnswer {
    int code;
    const char *line;
};

constexpr StepAnswer counting_answers[STEPS] = {
    {-1, "%s: avformat_alloc_context() failed"},
    {-2, "%s: av_alloc() failed for avio_ctx_buffer"},
    {-3, "%s: avio_alloc_context() failed"},
    {-4, "%s: could not open input"},
    {-5, "%s: Could not find stream information"},
    {-6, "%s: didn't find a video stream"},
    {-7, "%s: Unsupported codec!"},
    {-8, "%s: avcodec_alloc_context3() failed"},
    {-9, "%s: avcodec_parameters_to_context() error: %s"},
    {-10, "%s: Could not open codec: %s"},
    {-11, "%s: Could alloc video frame"},
    {-12, "%s: error sending packet to codec: %s"},
    {-13, "%s: error receiving frame from decoder: %s"},
};

constexpr StepAnswer main_answers[STEPS] = {
    {VF_FORMAT_CONTEXT, "%s: avformat_alloc_context() failed"},
    {VF_IO_BUFFER, "%s: av_alloc() failed for avio_ctx_buffer"},
    {VF_IO_CONTEXT, "%s: avio_alloc_context() failed"},
    {VF_OPEN_INPUT, "%s: could not open input: %s"},
    {VF_STREAM_INFO, "%s: Could not find stream information: %s"},
    {VF_NO_VIDEO, "%s: didn't find a video stream"},
    {VF_DECODER, "%s: Unsupported codec!"},
    {VF_DECODER_CONTEXT, "%s: avcodec_alloc_context3() failed"},
    {VF_PARAMETERS, "%s: avcodec_parameters_to_context() error: %s"},
    {VF_OPEN_DECODER, "%s: Could not open codec: %s"},
    {VF_FRAME, "%s: Could alloc video frame"},
    {VF_SEND_PACKET, "%s: error sending packet to codec: %s"},
    {VF_RECEIVE_FRAME, "%s: error receiving frame from decoder: %s"},
};

// Logs the pass's line for the failure and gives its code.
int answer(const StepAnswer (&answers)[STEPS], const char *pass, const Failure &f)
{
    vlog(answers[f.step].line, pass, av_text(f.error).c_str());
    return answers[f.step].code;
}

// A demuxer over a large object through FFmpeg's custom I/O, the decoder of its first video
// stream and the frame and packet it decodes with; all freed with it.
struct VideoInput {
    AVFormatContext *format = nullptr;
    unsigned char *buffer = nullptr;  // the I/O buffer until the I/O context takes it
    AVIOContext *io = nullptr;
    bool opened = false;
    int stream = -1;
    AVCodecContext *decoder = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    int last = 0;  // FFmpeg's last result

    VideoInput() = default;
    VideoInput(const VideoInput &) = delete;
    VideoInput &operator=(const VideoInput &) = delete;
    ~VideoInput()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&decoder);
        if (opened)
            avformat_close_input(&format);
        else
            avformat_free_context(format);
        if (io) {
            av_freep(&io->buffer);  // FFmpeg may have put a buffer of its own in place of ours
            avio_context_free(&io);
        } else {
            av_free(buffer);
        }
    }
};

Outcome allocate_input(VideoInput &in)
{
    in.format = avformat_alloc_context();
    if (!in.format) return Failure{format_context, 0};
    in.buffer = static_cast<unsigned char *>(av_malloc(IO_BUFFER_SIZE));
    if (!in.buffer) return Failure{io_buffer, 0};
    return {};
}

Outcome open_video(VideoInput &in, void *reader)
{
    in.io = avio_alloc_context(in.buffer, IO_BUFFER_SIZE, 0, reader, host->read, nullptr, host->seek);
    if (!in.io) return Failure{io_context, 0};
    in.buffer = nullptr;
    in.format->pb = in.io;
    in.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    in.last = avformat_open_input(&in.format, "", nullptr, nullptr);  // frees the context when it fails
    if (in.last < 0) return Failure{open_input, in.last};
    in.opened = true;
    in.last = avformat_find_stream_info(in.format, nullptr);
    if (in.last < 0) return Failure{stream_info, in.last};
    for (unsigned i = 0; i < in.format->nb_streams && in.stream < 0; ++i)
        if (in.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) in.stream = static_cast<int>(i);
    if (in.stream < 0) return Failure{video_stream, 0};
    return {};
}

Outcome open_video_decoder(VideoInput &in)
{
    const AVCodecParameters *parameters_of_stream = in.format->streams[in.stream]->codecpar;
    const AVCodec *codec = avcodec_find_decoder(parameters_of_stream->codec_id);
    if (!codec) return Failure{decoder, 0};
    in.decoder = avcodec_alloc_context3(codec);
    if (!in.decoder) return Failure{decoder_context, 0};
    in.last = avcodec_parameters_to_context(in.decoder, parameters_of_stream);
    if (in.last < 0) return Failure{parameters, in.last};
    in.last = avcodec_open2(in.decoder, codec, nullptr);
    if (in.last < 0) return Failure{open_decoder, in.last};
    return {};
}

Outcome allocate_frame(VideoInput &in)
{
    in.frame = av_frame_alloc();
    in.packet = av_packet_alloc();
    if (!in.frame || !in.packet) return Failure{frame_buffer, 0};
    return {};
}

// Feeds every packet of the video stream to the decoder and hands each frame it yields to take,
// which answers whether to read on. The data running out ends it well; the decoder is not
// drained, so frames it still holds are not seen.
template <class Take> Outcome decode(VideoInput &in, Take &&take)
{
    for (;;) {
        in.last = av_read_frame(in.format, in.packet);
        if (in.last < 0) return {};
        if (in.packet->stream_index != in.stream) {
            av_packet_unref(in.packet);
            continue;
        }
        in.last = avcodec_send_packet(in.decoder, in.packet);
        av_packet_unref(in.packet);
        if (in.last < 0) return Failure{send_packet, in.last};
        for (;;) {
            in.last = avcodec_receive_frame(in.decoder, in.frame);
            if (in.last == AVERROR(EAGAIN) || in.last == AVERROR_EOF) break;
            if (in.last < 0) return Failure{receive_frame, in.last};
            const bool more = take(*in.frame);
            av_frame_unref(in.frame);
            if (!more) return {};
        }
    }
}

// ---- Picking frames --------------------------------------------------------------------------------

// min(count, frames) distinct frame numbers below frames, ascending. Floyd's sampling takes one
// draw per pick: a number already picked gives way to the top of the draw's range, which no
// earlier draw could reach, so every position gets a frame of its own.
std::vector<unsigned> pick_frames(int frames, int count)
{
    const auto n = static_cast<unsigned>(frames);
    std::vector<bool> taken(n, count >= frames);
    if (count < frames)
        for (unsigned top = n - static_cast<unsigned>(count); top < n; ++top) {
            const auto drawn = static_cast<unsigned>(static_cast<unsigned long>(host->random()) % (top + 1UL));
            taken[taken[drawn] ? top : drawn] = true;
        }
    std::vector<unsigned> picks;
    for (unsigned i = 0; i < n; ++i)
        if (taken[i]) picks.push_back(i);
    return picks;
}

// ---- Writing pictures ------------------------------------------------------------------------------

struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};

// The PNG encoder of the main pass, its packet and the converter to its RGB pictures.
struct PictureWriter {
    AVCodecContext *png = nullptr;
    AVPacket *packet = nullptr;
    SwsContext *converter = nullptr;
    int width = 0, height = 0;

    PictureWriter() = default;
    PictureWriter(const PictureWriter &) = delete;
    PictureWriter &operator=(const PictureWriter &) = delete;
    ~PictureWriter()
    {
        sws_freeContext(converter);
        av_packet_free(&packet);
        avcodec_free_context(&png);
    }
};

int open_png(PictureWriter &out, const AVCodecContext &decoded, int &last)
{
    out.width = decoded.width;
    out.height = decoded.height;
    out.converter = sws_getContext(decoded.width, decoded.height, decoded.pix_fmt, out.width, out.height,
                                   AV_PIX_FMT_RGB24, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!out.converter) {
        vlog("%s: Could not setup color space converter", MAIN_PASS);
        return VF_CONVERTER;
    }
    out.packet = av_packet_alloc();
    if (!out.packet) {
        vlog("%s: Could alloc video frame", MAIN_PASS);
        return VF_FRAME;
    }
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec) {
        vlog("%s: Unsupported PNG codec!", MAIN_PASS);
        return VF_PNG;
    }
    out.png = avcodec_alloc_context3(codec);
    if (!out.png) {
        vlog("%s: PNG avcodec_alloc_context3() failed", MAIN_PASS);
        return VF_PNG_CONTEXT;
    }
    out.png->pix_fmt = AV_PIX_FMT_RGB24;
    out.png->width = out.width;
    out.png->height = out.height;
    out.png->time_base = AVRational{1, 25};
    out.png->framerate = AVRational{25, 1};
    last = avcodec_open2(out.png, codec, nullptr);
    if (last < 0) {
        vlog("%s: Could not open PNG codec: %s", MAIN_PASS, av_text(last).c_str());
        return VF_OPEN_PNG;
    }
    return VF_DONE;
}

// Writes the bytes to the file name, never through a symbolic link. Below a shared directory the
// picture is a new file of our own, put under the name once it is complete; false with errno set
// (nothing left under the name) when it cannot be written.
// Converts the frame to RGB, encodes it and writes it as the picture of position.
int write_picture(PictureWriter &out, const AVFrame &frame, const char *prefix, std::size_t position, int &last)
{
    const std::unique_ptr<AVFrame, FrameFree> rgb(av_frame_alloc());
    if (!rgb) {
        vlog("%s: Could alloc RGB frame", MAIN_PASS);
        return VF_RGB_FRAME;
    }
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = out.width;
    rgb->height = out.height;
    last = av_frame_get_buffer(rgb.get(), 0);
    if (last < 0) {
        vlog("%s: Cannot allocate rgb frame buffer: %s", MAIN_PASS, av_text(last).c_str());
        return VF_NO_FRAMES;
    }
    // A frame of another size or pixel format than the stream announced gets a converter of its
    // own, so the conversion never reads beyond the frame.
    out.converter = sws_getCachedContext(out.converter, frame.width, frame.height,
                                         static_cast<AVPixelFormat>(frame.format), out.width, out.height,
                                         AV_PIX_FMT_RGB24, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!out.converter) {
        vlog("%s: Could not setup color space converter", MAIN_PASS);
        return VF_CONVERTER;
    }
    last = sws_scale(out.converter, frame.data, frame.linesize, 0, frame.height, rgb->data, rgb->linesize);
    if (last <= 0) {
        vlog("%s: sws_scale() error: %s", MAIN_PASS, av_text(last).c_str());
        return VF_SCALE;
    }
    last = avcodec_send_frame(out.png, rgb.get());
    if (last < 0) {
        vlog("%s: avcodec_send_frame() error: %s", MAIN_PASS, av_text(last).c_str());
        return VF_SEND_FRAME;
    }
    last = avcodec_receive_packet(out.png, out.packet);
    if (last < 0) {
        vlog("%s: avcodec_receive_packet() error: %s", MAIN_PASS, av_text(last).c_str());
        return VF_RECEIVE_PACKET;
    }
    const bool written = host->write_picture(prefix, position, out.packet->data,
                                             static_cast<std::size_t>(out.packet->size));
    av_packet_unref(out.packet);
    if (!written) return VF_PICTURE_FILE;
    return VF_DONE;
}

// The frames the decoder yields for the first video stream, read from the start; the reader is
// then set back to its start.
int count_frames(void *reader)
{
    int count = 0;
    {
        VideoInput in;
        Outcome failed = allocate_input(in);
        if (!failed) failed = open_video(in, reader);
        if (!failed) failed = open_video_decoder(in);
        if (!failed) failed = allocate_frame(in);
        if (!failed) failed = decode(in, [&](const AVFrame &) {
            ++count;
            return true;
        });
        if (failed)
            count = answer(counting_answers, COUNTING_PASS, *failed);
        else
            vlog("%s: done reading video: %s", COUNTING_PASS, av_text(in.last).c_str());
    }
    host->seek(reader, 0, SEEK_SET);
    return count;
}

void describe(const VideoInput &in)
{
    AVStream *s = in.format->streams[in.stream];
    av_dump_format(in.format, in.stream, "", 0);
    vlog("%s: nb_frames of video stream: %ld", MAIN_PASS, static_cast<long>(s->nb_frames));
    vlog("%s: duration of video stream: %lld", MAIN_PASS, static_cast<long long>(s->duration));
    vlog("%s: duration: %ld", MAIN_PASS, static_cast<long>(in.format->duration));
    const AVRational rate = av_guess_frame_rate(in.format, s, nullptr);
    vlog("%s: frame rate  num: %d / den: %d", MAIN_PASS, rate.num, rate.den);
}

// The main pass over the open large object: its result code, FFmpeg's last result in last.
int sample_frames(void *reader, int count, const char *prefix, int &last)
{
    VideoInput in;
    PictureWriter out;
    auto failed = [&](const Failure &f) {
        last = in.last;
        return answer(main_answers, MAIN_PASS, f);
    };
    if (const Outcome f = allocate_input(in)) return failed(*f);

    const int frames = count_frames(reader);
    if (frames <= 0) {
        vlog("%s: error %d in nframes()", MAIN_PASS, frames);
        return VF_NO_FRAMES;
    }
    vlog("%s: nb_frames: %d", MAIN_PASS, frames);

    if (const Outcome f = open_video(in, reader)) return failed(*f);
    describe(in);

    const std::vector<unsigned> picks = pick_frames(frames, count);
    vlog("%s: nb_frames: %d", MAIN_PASS, frames);
    for (std::size_t i = 0; i < picks.size(); ++i)
        vlog("%s: %d selected: %d", MAIN_PASS, static_cast<int>(i), static_cast<int>(picks[i]));

    if (const Outcome f = open_video_decoder(in)) return failed(*f);
    int result = open_png(out, *in.decoder, in.last);
    if (result != VF_DONE) {
        last = in.last;
        return result;
    }
    if (const Outcome f = allocate_frame(in)) return failed(*f);

    unsigned number = 0;  // of the frame decoded
    std::size_t next = 0;  // the position of the next picked frame
    const Outcome f = decode(in, [&](const AVFrame &frame) {
        if (number == picks[next]) {
            result = write_picture(out, frame, prefix, next, in.last);
            if (result != VF_DONE) return false;
            vlog("%s: frame %d stored", MAIN_PASS, static_cast<int>(number));
            ++next;
        }
        ++number;
        return next < picks.size();
    });
    if (f) return failed(*f);
    last = in.last;
    return result;
}

// How the reads are enclosed: a transaction block of their own on an idle connection, or a

} // namespace

extern "C" [[gnu::visibility("default")]] const VideoModule lumba_video_module = {
    [](const VideoHost *caller, void *reader, int count, const char *prefix, int *last) {
        host = caller;
        return sample_frames(reader, count, prefix, *last);
    },
    [](const VideoHost *caller, void *reader) {
        host = caller;
        return count_frames(reader);
    },
    [](int code, char *text, std::size_t size) { av_strerror(code, text, size); },
};
