// IPQVIDEOFRAMES against the scratch cluster, with videos the ffmpeg command makes at test time
// and loads with psql's \lo_import: the pictures decode (with ffmpeg) to the reference frames
// ffmpeg gives of the same video, picked distinct and in ascending order; the result codes of
// the faults; what reaches the server and what becomes of the caller's transaction; the custom
// I/O callbacks over the large object.
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <set>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include <libpq/libpq-fs.h>

#include "documents_fixture.h"
#include "planted.h"
#include "video_frames.h"

namespace documents {
namespace {

using lumba_test::pg_cluster;

constexpr int WIDTH = 64, HEIGHT = 48, FRAMES = 10;
constexpr std::size_t FRAME_BYTES = WIDTH * HEIGHT * 3;

// Runs argv; its standard output (text), or a failed test with its standard error.
std::string command_output(std::vector<std::string> argv)
{
    std::vector<char *> args;
    for (auto &a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    gchar *out = nullptr, *err = nullptr;
    gint status = -1;
    GError *error = nullptr;
    const gboolean ran = g_spawn_sync(nullptr, args.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err,
                                      &status, &error);
    EXPECT_TRUE(ran && g_spawn_check_wait_status(status, nullptr))
        << argv[0] << ": " << (err ? err : "") << (error ? error->message : "");
    const std::string o = out ? out : "";
    g_free(out);
    g_free(err);
    if (error) g_error_free(error);
    return o;
}

// A file's raw RGB24 frames as ffmpeg decodes them.
std::vector<std::string> rgb_frames(const std::string &path)
{
    const std::string raw = path + ".rgb";
    command_output({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-y", raw});
    const std::string bytes = read_file(raw);
    std::vector<std::string> frames;
    for (std::size_t at = 0; at + FRAME_BYTES <= bytes.size(); at += FRAME_BYTES) frames.push_back(bytes.substr(at, FRAME_BYTES));
    return frames;
}

double mean_difference(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(static_cast<int>(static_cast<unsigned char>(a[i])) - static_cast<unsigned char>(b[i]));
    return sum / static_cast<double>(a.size());
}

// The reference frame nearest to a picture, and its mean difference per byte.
std::pair<int, double> nearest(const std::vector<std::string> &references, const std::string &picture)
{
    std::pair<int, double> best{-1, 1e9};
    for (std::size_t i = 0; i < references.size(); ++i) {
        const double d = mean_difference(references[i], picture);
        if (d < best.second) best = {static_cast<int>(i), d};
    }
    return best;
}

long constant_source() { return 7; }

} // namespace

class VideoFrames : public DocumentsTest {
public:
    void SetUp() override
    {
        DocumentsTest::SetUp();
        // The test pattern with its hue turned a tenth further each frame, so that any two frames
        // lie far apart, also after lossy coding.
        const std::vector<std::string> pattern = {"-v", "error", "-nostdin", "-f", "lavfi", "-i",
                                                  "testsrc=size=64x48:rate=10", "-vf", "hue=H=2*PI*n/10",
                                                  "-frames:v", "10"};
        auto make = [&](const std::string &name, std::vector<std::string> coding) {
            std::vector<std::string> argv{"ffmpeg"};
            argv.insert(argv.end(), pattern.begin(), pattern.end());
            argv.insert(argv.end(), coding.begin(), coding.end());
            argv.push_back("-y");
            argv.push_back(file(name));
            command_output(argv);
            return file(name);
        };
        lossless = make("lossless.mkv", {"-c:v", "png", "-pix_fmt", "rgb24"});
        mpeg4 = make("mpeg4.mp4", {"-c:v", "mpeg4", "-q:v", "2", "-pix_fmt", "yuv420p"});
        write_file(file("text"), std::string(2000, 'x') + " not a video\n");
        lossless_frames = rgb_frames(lossless);
        mpeg4_frames = rgb_frames(mpeg4);
        ASSERT_EQ(lossless_frames.size(), static_cast<std::size_t>(FRAMES));
        ASSERT_EQ(mpeg4_frames.size(), static_cast<std::size_t>(FRAMES));
        lossless_oid = lo_import(lossless);
        mpeg4_oid = lo_import(mpeg4);
        text_oid = lo_import(file("text"));
        srandom(20240611);
    }

    void TearDown() override
    {
        set_video_random(nullptr);
        DocumentsTest::TearDown();
    }

    static long lo_import(const std::string &path)
    {
        const std::string out = command_output({"psql", "-X", "-A", "-t", pg_cluster().conninfo(), "-c", "\\lo_import " + path});
        EXPECT_EQ(out.rfind("lo_import ", 0), 0u) << out;
        return std::atol(out.c_str() + std::strlen("lo_import "));
    }

    long frames(long oid, int n, const std::string &prefix, long handle = -1)
    {
        return numeric(in_IPQVIDEOFRAMES, {num(handle < 0 ? conn : handle), num(oid), num(n), str(prefix)});
    }
    long status() { return numeric(in_IPQTRANSACTIONSTATUS, {num(conn)}); }

    // The statements the server ran after mark, but for libpq's lookup of the large-object
    // functions, which it makes once per connection at its first large-object call.
    static std::vector<std::string> sent_since(std::size_t mark)
    {
        std::vector<std::string> v;
        for (auto &s : pg_cluster().statements_since(mark))
            if (s.rfind("select proname, oid from pg_catalog.pg_proc where proname in ('lo_open'", 0) != 0) v.push_back(s);
        return v;
    }

    // The pictures prefix0.png, prefix1.png, ... that exist, decoded to raw RGB, all in one ffmpeg
    // run (one a picture costs more than the run of the intrinsic).
    std::vector<std::string> pictures(const std::string &prefix)
    {
        int count = 0;
        while (std::filesystem::exists(prefix + std::to_string(count) + ".png")) ++count;
        if (count == 0) return {};
        const std::string raw = prefix + "all.rgb";
        command_output({"ffmpeg", "-v", "error", "-nostdin", "-f", "image2", "-start_number", "0", "-i", prefix + "%d.png",
                        "-frames:v", std::to_string(count), "-f", "rawvideo", "-pix_fmt", "rgb24", "-y", raw});
        const std::string bytes = read_file(raw);
        std::filesystem::remove(raw);
        EXPECT_EQ(bytes.size(), count * FRAME_BYTES) << prefix << ": " << count << " pictures of " << WIDTH << "x" << HEIGHT;
        std::vector<std::string> v;
        for (std::size_t at = 0; at + FRAME_BYTES <= bytes.size(); at += FRAME_BYTES) v.push_back(bytes.substr(at, FRAME_BYTES));
        return v;
    }

    // The reference frames the pictures are, in order (-1: none matches exactly).
    static std::vector<int> exact_frames(const std::vector<std::string> &references, const std::vector<std::string> &pics)
    {
        std::vector<int> v;
        for (const auto &p : pics) {
            const auto n = nearest(references, p);
            v.push_back(n.second == 0 ? n.first : -1);
        }
        return v;
    }

    std::string lossless, mpeg4;
    std::vector<std::string> lossless_frames, mpeg4_frames;
    long lossless_oid = 0, mpeg4_oid = 0, text_oid = 0;
};

struct FramesCase {
    const char *name;
    VideoRandom source;
    int n;
    std::size_t files;
};

// Each case's pictures are frames of the video, each a different one, in ascending order.
void check_distinct_ascending(VideoFrames &t, std::initializer_list<FramesCase> cases, const std::string &tag)
{
    int k = 0;
    for (const auto &c : cases) {
        set_video_random(c.source);
        const std::string prefix = t.file(tag + std::to_string(++k) + "-");
        EXPECT_EQ(t.frames(t.lossless_oid, c.n, prefix), 0) << c.name;
        const std::vector<int> got = VideoFrames::exact_frames(t.lossless_frames, t.pictures(prefix));
        EXPECT_EQ(got.size(), c.files) << c.name;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_GE(got[i], 0) << c.name << ": picture " << i << " is no frame of the video";
            if (i > 0) {
                EXPECT_GT(got[i], got[i - 1]) << c.name << ": picture " << i;
            }
        }
    }
}

TEST_F(VideoFrames, PicturesAreDistinctFramesInAscendingOrder)
{
    check_distinct_ascending(*this,
                             {{"three from a seeded source", nullptr, 3, 3},
                              {"a source that draws one number only", constant_source, 3, 3}},
                             "few");
}

TEST_F(VideoFrames, AsManyPicturesAsTheVideoHasAtMost)
{
    check_distinct_ascending(*this,
                             {{"more than the video has: each frame once", nullptr, 12, FRAMES},
                              {"as many as it has", constant_source, FRAMES, FRAMES}},
                             "all");
}

// The decoding is FFmpeg's, in a module of its own that a video call loads.
TEST_F(VideoFrames, TheDecoderComesInItsModule)
{
    EXPECT_EQ(frames(lossless_oid, 1, file("module-")), 0);
    const std::string maps = read_file("/proc/self/maps");
    EXPECT_NE(maps.find("/lumba-video.so"), std::string::npos) << maps;
    EXPECT_NE(maps.find("/libavformat.so"), std::string::npos) << maps;
}

TEST_F(VideoFrames, TheLogNamesThePicksAndEachStoredFrame)
{
    const int level = std::exchange(Lumba_Log_Level, 3);
    testing::internal::CaptureStderr();
    const long result = frames(lossless_oid, 3, file("p"));
    std::string err = testing::internal::GetCapturedStderr();
    Lumba_Log_Level = level;
    EXPECT_EQ(result, 0);
    const std::vector<int> got = exact_frames(lossless_frames, pictures(file("p")));
    ASSERT_EQ(got.size(), 3u);
    std::vector<std::string> lines = {"avideo_nframes: done reading video: End of file", "ipqvideoframes: nb_frames: 10",
                                      "ipqvideoframes: frame rate  num: 10 / den: 1"};
    for (int i = 0; i < 3; ++i) {
        lines.push_back("ipqvideoframes: " + std::to_string(i) + " selected: " + std::to_string(got[i]));
        lines.push_back("ipqvideoframes: frame " + std::to_string(got[i]) + " stored");
    }
    lines.push_back("ipqvideoframes: return: 0");
    for (const auto &line : lines) EXPECT_NE(err.find(line + "\n"), std::string::npos) << line << " in\n" << err;
}

TEST_F(VideoFrames, LossyFramesComeCloseToTheirReferences)
{
    EXPECT_EQ(frames(mpeg4_oid, 4, file("m")), 0);
    const std::vector<std::string> pics = pictures(file("m"));
    ASSERT_EQ(pics.size(), 4u);
    int previous = -1;
    for (std::size_t i = 0; i < pics.size(); ++i) {
        const auto [frame, difference] = nearest(mpeg4_frames, pics[i]);
        EXPECT_LT(difference, 6.0) << "picture " << i;
        EXPECT_GT(frame, previous) << "picture " << i;
        previous = frame;
    }
}

TEST_F(VideoFrames, FaultsGiveTheirCodes)
{
    std::filesystem::create_symlink(file("target"), file("link0.png"));
    using Sent = std::vector<std::string>;
    const Sent own_block{"BEGIN", "END"};
    struct {
        const char *name;
        std::function<long(VideoFrames &)> call;
        long code;
        const char *prefix;  // of the pictures that must not exist
        Sent sent;
    } cases[] = {
        {"an OID that is no large object", [](VideoFrames &t) { return t.frames(4242424, 3, t.file("a")); }, 101, "a",
         own_block},
        {"an OID beyond 32 bits", [](VideoFrames &t) { return t.frames(t.lossless_oid + (1L << 32), 3, t.file("b")); },
         101, "b", own_block},
        {"a text file", [](VideoFrames &t) { return t.frames(t.text_oid, 3, t.file("c")); }, 130, "c", own_block},
        {"handle 0", [](VideoFrames &t) { return t.frames(t.lossless_oid, 3, t.file("d"), 0); }, 100, "d", {}},
        {"a handle beyond the table", [](VideoFrames &t) { return t.frames(t.lossless_oid, 3, t.file("e"), 65537); },
         100, "e", {}},
        {"n = 0", [](VideoFrames &t) { return t.frames(t.lossless_oid, 0, t.file("f")); }, 130, "f", {}},
        {"n = -1", [](VideoFrames &t) { return t.frames(t.lossless_oid, -1, t.file("g")); }, 130, "g", {}},
        {"a link at the first picture name", [](VideoFrames &t) { return t.frames(t.lossless_oid, 3, t.file("link")); },
         124, "link", own_block},
    };
    for (const auto &c : cases) {
        const std::size_t mark = pg_cluster().log_size();
        EXPECT_EQ(c.call(*this), c.code) << c.name;
        EXPECT_EQ(sent_since(mark), c.sent) << c.name;
        EXPECT_FALSE(std::filesystem::exists(file(std::string(c.prefix) + "1.png"))) << c.name;
        EXPECT_EQ(status(), 0) << c.name;  // the connection is idle again
    }
    EXPECT_FALSE(std::filesystem::exists(file("target")));
    EXPECT_TRUE(std::filesystem::is_symlink(file("link0.png")));
}

TEST_F(VideoFrames, NoPictureGoesThroughWhatAnotherUserPlanted)
{
    // A shared directory of another user's, with their link for a subdirectory and a directory
    // of theirs: no picture is written through either, and the call answers with its code.
    const std::string pub = file("pub"), elsewhere = file("elsewhere");
    lumba_test::make_their_shared_directory(pub);
    std::filesystem::create_directory(elsewhere);
    lumba_test::plant_link(elsewhere, pub + "/sub");
    lumba_test::plant_directory(pub + "/their-dir");
    EXPECT_EQ(frames(lossless_oid, 3, pub + "/sub/frame"), 124);
    EXPECT_EQ(frames(lossless_oid, 3, pub + "/their-dir/frame"), 124);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    EXPECT_TRUE(std::filesystem::is_empty(pub + "/their-dir"));
    // Pictures of the run's own are written there as anywhere.
    EXPECT_EQ(frames(lossless_oid, 3, pub + "/frame"), 0);
    EXPECT_EQ(pictures(pub + "/frame").size(), 3u);
}

TEST_F(VideoFrames, TheCallersTransactionIsLeftAsItWas)
{
    const std::string metadata = "select count(*) from pg_largeobject_metadata";
    const std::string objects = pg_cluster().query(metadata);

    // From an idle connection: a block of its own, ended; idle again, no large object made.
    std::size_t mark = pg_cluster().log_size();
    EXPECT_EQ(frames(lossless_oid, 2, file("idle")), 0);
    EXPECT_EQ(sent_since(mark), (std::vector<std::string>{"BEGIN", "END"}));
    EXPECT_EQ(PQtransactionStatus(hdlgetconn(static_cast<std::uint16_t>(conn))), PQTRANS_IDLE);
    EXPECT_EQ(pg_cluster().query(metadata), objects);

    // Inside the program's block: no BEGIN, no END, a savepoint let go, the block still open, and
    // its rollback undoes what the program wrote in it.
    begin();
    clear(exec("insert into doc (id) values ('in block')"));
    mark = pg_cluster().log_size();
    EXPECT_EQ(frames(lossless_oid, 2, file("block")), 0);
    EXPECT_EQ(sent_since(mark), (std::vector<std::string>{"SAVEPOINT ipqvideoframes", "RELEASE SAVEPOINT ipqvideoframes"}));
    EXPECT_EQ(status(), 1);
    EXPECT_EQ(pictures(file("block")).size(), 2u);
    rollback();
    EXPECT_EQ(pg_cluster().query("select count(*) from doc"), "0");

    // Inside a failed block: 100, and nothing sent.
    begin();
    testing::internal::CaptureStderr();
    clear(exec("select 1/0"));
    testing::internal::GetCapturedStderr();
    mark = pg_cluster().log_size();
    EXPECT_EQ(frames(lossless_oid, 2, file("failed")), 100);
    EXPECT_EQ(sent_since(mark), std::vector<std::string>{});
    EXPECT_EQ(PQtransactionStatus(hdlgetconn(static_cast<std::uint16_t>(conn))), PQTRANS_INERROR);
    EXPECT_FALSE(std::filesystem::exists(file("failed0.png")));
    rollback();
}

// A video that cannot be read inside the program's block gives its code and leaves the block
// usable: what the program wrote before stays, and its next store and commit succeed.
TEST_F(VideoFrames, AFailedReadLeavesTheCallersBlockUsable)
{
    using Sent = std::vector<std::string>;
    struct {
        const char *name;
        std::function<long(VideoFrames &)> call;
        long code;
        Sent sent;
    } cases[] = {
        {"an OID that is no large object", [](VideoFrames &t) { return t.frames(4242424, 3, t.file("a")); }, 101,
         {"SAVEPOINT ipqvideoframes", "ROLLBACK TO SAVEPOINT ipqvideoframes", "RELEASE SAVEPOINT ipqvideoframes"}},
        {"a text file", [](VideoFrames &t) { return t.frames(t.text_oid, 3, t.file("b")); }, 130,
         {"SAVEPOINT ipqvideoframes", "RELEASE SAVEPOINT ipqvideoframes"}},
    };
    int row = 0;
    for (const auto &c : cases) {
        const std::string n = std::to_string(++row);
        begin();
        clear(exec("insert into doc (id) values ('before " + n + "')"));
        const std::size_t mark = pg_cluster().log_size();
        EXPECT_EQ(c.call(*this), c.code) << c.name;
        EXPECT_EQ(sent_since(mark), c.sent) << c.name;
        EXPECT_EQ(PQtransactionStatus(hdlgetconn(static_cast<std::uint16_t>(conn))), PQTRANS_INTRANS) << c.name;
        put("D", "id", "after " + n);
        put_text("D", "body", nullptr);
        put_text("D", "note", nullptr);
        EXPECT_EQ(lumba_test::abort_text([&] { EXPECT_EQ(PgRowsTest::store("D"), 1) << c.name; }), "") << c.name;
        EXPECT_EQ(commit(), 1) << c.name;
    }
    EXPECT_EQ(pg_cluster().query("select string_agg(id, ',' order by id) from doc"), "after 1,after 2,before 1,before 2");
}

TEST_F(VideoFrames, TheCustomInputReadsAndSeeksTheLargeObject)
{
    PGconn *c = hdlgetconn(static_cast<std::uint16_t>(conn));
    PQclear(PQexec(c, "BEGIN"));
    LoReader reader{c, lo_open(c, static_cast<Oid>(lossless_oid), INV_READ)};
    ASSERT_GE(reader.fd, 0) << PQerrorMessage(c);
    const std::string bytes = read_file(lossless);

    EXPECT_EQ(avideo_nframes(&reader), FRAMES);
    EXPECT_EQ(lo_tell64(c, reader.fd), 0);  // set back to the start

    EXPECT_EQ(avideo_lo_seek(&reader, 0, AVSEEK_SIZE), -1);
    EXPECT_EQ(avideo_lo_seek(&reader, 5, SEEK_SET | AVSEEK_FORCE), 5);
    std::uint8_t buffer[16];
    ASSERT_EQ(avideo_lo_read(&reader, buffer, sizeof buffer), 16);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 16), bytes.substr(5, 16));
    EXPECT_EQ(avideo_lo_seek(&reader, -4, SEEK_END), static_cast<std::int64_t>(bytes.size() - 4));
    EXPECT_EQ(avideo_lo_read(&reader, buffer, sizeof buffer), 4);
    EXPECT_EQ(avideo_lo_read(&reader, buffer, sizeof buffer), AVERROR_EOF);
    reader.fd += 100;  // no such descriptor
    EXPECT_EQ(avideo_lo_read(&reader, buffer, sizeof buffer), AVERROR(EIO));
    PQclear(PQexec(c, "ROLLBACK"));
}

} // namespace documents
