// The client against a real nginx on loopback: plain and large files, a missing file and connection reuse.
#include <gtest/gtest.h>

#include "http/http.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

using namespace testsupport;

TEST(HttpNginx, FilesMissingFilesAndOneConnectionForTwoGets) {
    NginxServer nginx("    add_header X-Connection $connection always;\n");
    ASSERT_TRUE(nginx.running());
    nginx.AddFile("upd/list.xml", "<list/>\n");
    nginx.AddLargeFile("files/big.bin", 5 * 1024 * 1024 + 333);

    TIdHTTP http;
    EXPECT_EQ(http.Get(nginx.Url("/upd/list.xml")), "<list/>\n");
    const std::string firstConnection = http.Response().RawHeaders.Value("X-Connection");

    TempDir dir;
    int32_t lastWork = 0;
    int32_t announced = 0;
    http.OnWorkBegin = [&](TIdComponent*, TWorkMode mode, int32_t max) {
        if (mode == wmRead) announced = max;
    };
    http.OnWork = [&](TIdComponent*, TWorkMode mode, int32_t count) {
        if (mode == wmRead) lastWork = count;
    };
    {
        TFileStream file(dir / "big.bin", TFileStream::Mode::Create);
        http.Get(nginx.Url("/files/big.bin"), file);
    }
    EXPECT_TRUE(ReadFile(dir / "big.bin") == ReadFile(nginx.webRoot() + "files/big.bin"));
    EXPECT_EQ(announced, 5 * 1024 * 1024 + 333);
    EXPECT_EQ(lastWork, announced);
    EXPECT_EQ(http.Response().RawHeaders.Value("X-Connection"), firstConnection);
    EXPECT_FALSE(firstConnection.empty());

    try {
        http.Get(nginx.Url("/upd/missing.xml"));
        ADD_FAILURE() << "a missing file was fetched";
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.StatusCode(), 404);
        EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
        EXPECT_NE(e.ErrorBody().find("404 Not Found"), std::string::npos);
    }
    EXPECT_EQ(http.Get(nginx.Url("/upd/list.xml")), "<list/>\n");
    EXPECT_EQ(http.Response().RawHeaders.Value("X-Connection"), firstConnection);
}
