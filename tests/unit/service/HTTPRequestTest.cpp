#include "service/HTTPRequest.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

TEST(HTTPRequest, aCompleteRequestGivesMethodPathHeadersAndBody) {
    auto request = HTTPRequest::parse("post /callback?x=1 HTTP/1.1\r\nHost: 127.0.0.1:5\r\n"
                                      "Content-Type:  application/json \r\nContent-Length: 4\r\n\r\nbody");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->path, "/callback?x=1");
    EXPECT_EQ(request->headers.at("host"), "127.0.0.1:5");
    EXPECT_EQ(request->headers.at("content-type"), "application/json");
    EXPECT_EQ(request->body, "body");
}

TEST(HTTPRequest, headerNamesInAnyCaseAreHonouredAndALaterDuplicateWins) {
    auto request = HTTPRequest::parse("POST / HTTP/1.1\r\ncOnTeNt-LeNgTh: 3\r\nX-A: one\r\nx-a: two\r\n"
                                      "no colon line\r\n\r\nabc");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->body, "abc");
    EXPECT_EQ(request->headers.at("x-a"), "two");
    EXPECT_EQ(request->headers.size(), 2u);
}

TEST(HTTPRequest, theRequestIsIncompleteUntilTheDeclaredBodyHasArrived) {
    std::string head = "POST /callback HTTP/1.1\r\nContent-Length: 10\r\n\r\n";
    EXPECT_FALSE(HTTPRequest::parse("POST /callback HTTP/1.1\r\nContent-Length: 10\r\n"));
    EXPECT_FALSE(HTTPRequest::parse(head));
    EXPECT_FALSE(HTTPRequest::parse(head + "012345678"));
    auto done = HTTPRequest::parse(head + "0123456789");
    ASSERT_TRUE(done);
    EXPECT_EQ(done->body, "0123456789");
}

TEST(HTTPRequest, aBodyLongerThanDeclaredIsCutToTheDeclaredLength) {
    auto request = HTTPRequest::parse("POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nabcdef");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->body, "ab");
}

TEST(HTTPRequest, aMissingOrUnreadableLengthMeansNoBody) {
    for (std::string length : {"", "Content-Length: abc\r\n", "Content-Length: -5\r\n", "Content-Length: 3x\r\n"}) {
        auto request = HTTPRequest::parse("POST / HTTP/1.1\r\n" + length + "\r\nleftover");
        ASSERT_TRUE(request) << length;
        EXPECT_EQ(request->body, "") << length;
    }
}

TEST(HTTPRequest, aRequestLineWithoutAPathOrAHeadThatIsNotTextIsIncomplete) {
    EXPECT_FALSE(HTTPRequest::parse("GET\r\n\r\n"));
    EXPECT_FALSE(HTTPRequest::parse("\r\n\r\n"));
    EXPECT_FALSE(HTTPRequest::parse("GET /\xff HTTP/1.1\r\n\r\n"));
    auto spaced = HTTPRequest::parse("GET  /two-blanks HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->path, "/two-blanks");
    auto bare = HTTPRequest::parse("options /x\r\n\r\n");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->method, "OPTIONS");
}

TEST(HTTPRequest, aChunkedBodyIsDecodedOnceItsLastChunkArrives) {
    std::string head = "POST /callback HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::string chunks = "4\r\n{\"to\r\nA;ext=1\r\nken\":\"t1\"}\r\n0\r\n\r\n";
    for (std::size_t cut = 0; cut < chunks.size(); ++cut)
        EXPECT_FALSE(HTTPRequest::parse(head + chunks.substr(0, cut))) << "complete after " << cut << " bytes";
    auto request = HTTPRequest::parse(head + chunks);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->body, R"({"token":"t1"})");
    EXPECT_TRUE(HTTPRequest::parse(head + "0\r\nX-Trailer: 1\r\n\r\n"));
    EXPECT_FALSE(HTTPRequest::parse(head + "zz\r\nab\r\n0\r\n\r\n")) << "a size that is not hex never completes";
}

TEST(HTTPRequest, parseHeadReportsWhereTheBodyStartsAndTheDeclaredLength) {
    std::string head = "POST /callback HTTP/1.1\r\nContent-Length: 99999\r\n\r\n";
    std::size_t length = 0;
    auto request = HTTPRequest::parseHead(head + "partial", &length);
    ASSERT_TRUE(request);
    EXPECT_EQ(length, head.size());
    EXPECT_EQ(request->contentLength(), 99999u);
    EXPECT_FALSE(request->isChunked());
}

} // namespace
} // namespace vanto
