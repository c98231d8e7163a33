#include <ox/stream/FileStream.h>

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>

using ox::stream::FileStream;
using ox::stream::IStream;
using oxtest::memoryStream;
using oxtest::readRest;

namespace {

std::string readString(IStream& stream, int64_t count) {
    std::string out(size_t(count), '\0');
    out.resize(size_t(stream.read(out.data(), count)));
    return out;
}

} // namespace

TEST(Stream, SeekReadAndReadAll) {
    auto s = memoryStream("0123456789");
    EXPECT_EQ(readString(*s, 3), "012");
    EXPECT_TRUE(s->seek(-2, 1));
    EXPECT_EQ(s->tell(), 1);
    EXPECT_TRUE(s->seek(-3, 2));
    EXPECT_EQ(readString(*s, 10), "789"); // short read at the end
    EXPECT_TRUE(s->atEnd());
    EXPECT_FALSE(s->seek(-1, 0));
    EXPECT_FALSE(s->seek(0, 7));
    EXPECT_EQ(s->tell(), 10);
    EXPECT_TRUE(s->seek(50, 0)); // past the end: allowed, reads nothing
    EXPECT_EQ(readString(*s, 4), "");
    EXPECT_TRUE(s->seek(4, 0));
    EXPECT_EQ(readRest(s), "456789");
    EXPECT_EQ(readRest(s), "");
}

TEST(Stream, ViewsClipAndReadIndependently) {
    auto s = memoryStream("abcdefghij", "bank.tq7bank");
    // Partly or entirely outside, negative offset or size; a long offset is taken
    // as 32 bits.
    const std::tuple<long, long, const char*> rows[] = {{2, 4, "cdef"}, {8, 100, "ij"},
                                                        {20, 5, ""},    {-1, 5, ""},
                                                        {0, -5, ""},    {0x100000003L, 2, "de"}};
    for (const auto& [offset, size, bytes] : rows) {
        auto view = s->make_view(offset, size);
        EXPECT_EQ(view->size(), int64_t(std::strlen(bytes))) << offset;
        EXPECT_EQ(readRest(view), bytes) << offset;
    }
    EXPECT_EQ(s->tell(), 0); // the parent's cursor never moved

    // Each view has its own cursor; views of views read inside the inner range
    // only; renaming a view leaves others alone.
    auto a = s->make_view(2, 4), b = s->make_view(2, 4);
    EXPECT_EQ(readString(*a, 2), "cd");
    EXPECT_EQ(readString(*b, 1), "c");
    EXPECT_EQ(readString(*a, 10), "ef");
    auto inner = b->make_view(1, 10);
    inner->setName("x/y.ogg");
    EXPECT_EQ(readRest(inner), "def");
    EXPECT_EQ(b->name(), "bank.tq7bank");
    EXPECT_EQ(readRest(inner->make_view(1, 1)), "e");

    // A view keeps its parents alive.
    std::weak_ptr<IStream> weak = s;
    inner = inner->make_view(1, 2);
    s.reset();
    a.reset();
    b.reset();
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(readRest(inner), "ef");
    inner.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(Stream, LittleEndianReadersAndCStrings) {
    auto s = memoryStream(std::string("\x01\x02\x03\x04\xfe\xff\xff\xff\xff\xff\xff\xff"
                                      "ab\0\0cd",
                                      18));
    bool ok = false;
    EXPECT_EQ(s->readUInt32(&ok), 0x04030201u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(s->readInt64(&ok), -2);
    EXPECT_TRUE(ok);
    EXPECT_EQ(s->readCString(), "ab");
    EXPECT_EQ(s->readCString(), "");
    EXPECT_EQ(s->readCString(), "cd"); // no NUL before the end
    EXPECT_TRUE(s->atEnd());
    EXPECT_EQ(s->readCString(), "");
    EXPECT_EQ(s->readUInt32(&ok), 0u);
    EXPECT_FALSE(ok);

    // A short read returns 0 and leaves the cursor at the end.
    auto t = memoryStream("\x05\x06\x07");
    EXPECT_EQ(t->readInt64(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(t->atEnd());

    // A long string without NUL spans several internal chunks.
    const std::string longText(1000, 'z');
    EXPECT_EQ(memoryStream(longText + '\0' + "rest")->readCString(), longText);
    EXPECT_EQ(memoryStream(longText)->make_view(10, 600)->readCString(), std::string(600, 'z'));
}

TEST(FileStream, OpensRegularFilesOnly) {
    oxtest::TempDir dir;
    oxtest::writeFile(dir.file("a.bin"), "file bytes");
    oxtest::writeFile(dir.file("empty.bin"), "");

    auto f = FileStream::open(dir.file("a.bin"), "rb");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->name(), dir.file("a.bin"));
    EXPECT_EQ(f->size(), 10);
    EXPECT_EQ(readRest(f->make_view(5, 5)), "bytes");
    f->finishLoading();
    EXPECT_EQ(readRest(f->make_view(0, 4)), "file");
    EXPECT_TRUE(FileStream::open(dir.file("a.bin"), "r"));

    auto empty = FileStream::open(dir.file("empty.bin"), "r");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 0);
    EXPECT_EQ(empty->data(), nullptr);
    EXPECT_TRUE(empty->atEnd());
    EXPECT_EQ(readRest(empty), "");
    empty->finishLoading();

    EXPECT_FALSE(FileStream::open(dir.file("missing.bin"), "rb"));
    EXPECT_FALSE(FileStream::open(dir.path().string(), "rb"));
    EXPECT_FALSE(FileStream::open(dir.file("a.bin"), "w"));
    EXPECT_FALSE(FileStream::open(dir.file("a.bin"), "r+"));
}

TEST(FileStream, TextAndBinaryModesReadTheSameBytes) {
    // Text is read through the descriptor, binary files are mapped; a file
    // large enough for long reads of the mapping to go through the kernel.
    oxtest::TempDir dir;
    std::string bytes(300 * 1024 + 7, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = char((i * 2654435761u) >> 13);
    }
    oxtest::writeFile(dir.file("big.bin"), bytes);
    for (const char* mode : {"r", "rb"}) {
        auto f = FileStream::open(dir.file("big.bin"), mode);
        ASSERT_TRUE(f) << mode;
        if (std::string(mode) == "rb") {
            EXPECT_EQ(std::string(f->data(), size_t(f->size())), bytes);
        } else {
            EXPECT_EQ(f->data(), nullptr); // text keeps no copy of its own
        }
        EXPECT_EQ(readRest(f->make_view(1000, 290 * 1024)), bytes.substr(1000, 290 * 1024)) << mode;
        ASSERT_TRUE(f->seek(3, 0));
        const std::vector<char> rest = f->readAll();
        EXPECT_EQ(std::string(rest.begin(), rest.end()), bytes.substr(3)) << mode;
        EXPECT_TRUE(f->atEnd()) << mode;
    }

    // Long reads of a mapped file bypass the mapping only while the path still
    // names the mapped file: replaced, the stream keeps reading the old bytes.
    auto mapped = FileStream::open(dir.file("big.bin"), "rb");
    ASSERT_TRUE(mapped);
    oxtest::writeFile(dir.file("other.bin"), std::string(bytes.size(), 'x'));
    std::filesystem::rename(dir.file("other.bin"), dir.file("big.bin"));
    EXPECT_EQ(readRest(mapped->make_view(0, 300 * 1024)), bytes.substr(0, 300 * 1024));
}
