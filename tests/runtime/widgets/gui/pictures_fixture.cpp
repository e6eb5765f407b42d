#include "pictures_fixture.h"

#include <fstream>
#include <sstream>

#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

namespace pictures_test {

std::string run(const std::vector<std::string> &argv, bool *ok)
{
    std::vector<char *> v;
    for (const std::string &a : argv) v.push_back(const_cast<char *>(a.c_str()));
    v.push_back(nullptr);
    char *out = nullptr;
    int status = 0;
    const bool started = g_spawn_sync(nullptr, v.data(), nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                                      nullptr, nullptr, &out, nullptr, &status, nullptr);
    const bool done = started && g_spawn_check_wait_status(status, nullptr);
    if (ok) *ok = done;
    std::string s = done && out ? out : "";
    g_free(out);
    return s;
}

void make_picture(const std::string &path, int width, int height, const std::string &colour, const std::string &format)
{
    bool ok = false;
    run({"convert", "-size", std::to_string(width) + "x" + std::to_string(height), "xc:" + colour,
         format.empty() ? path : format + ":" + path},
        &ok);
    ASSERT_TRUE(ok) << "convert made " << path;
}

std::string identify(const std::string &path, const std::string &format)
{
    return run({"identify", "-format", format, path});
}

std::string checksum(const std::string &path)
{
    gchar *data = nullptr;
    gsize size = 0;
    if (!g_file_get_contents(path.c_str(), &data, &size, nullptr)) return "";
    gchar *sum = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar *>(data), size);
    std::string s = sum;
    g_free(sum);
    g_free(data);
    return s;
}

bool exists(const std::string &path) { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); }

} // namespace pictures_test

void PicturesTest::SetUp()
{
    // The forms fixture puts test rows in the forms engine's table; the image kind keeps its own.
    const RecordKindHooks own = record_kind(CM_FIELD_TYPE_GIMAGE);
    KeysTest::SetUp();
    register_record_kind(CM_FIELD_TYPE_GIMAGE, own);
    char *made = g_dir_make_tmp("pictures-XXXXXX", nullptr);
    ASSERT_NE(made, nullptr);
    dir = made;
    g_free(made);
    char *cwd = g_get_current_dir();
    saved_cwd = cwd;
    g_free(cwd);
    ASSERT_EQ(chdir(dir.c_str()), 0);
}

void PicturesTest::TearDown()
{
    if (!saved_cwd.empty()) {
        EXPECT_EQ(chdir(saved_cwd.c_str()), 0);
    }
    if (!dir.empty()) pictures_test::run({"rm", "-rf", dir});
    KeysTest::TearDown();
}
