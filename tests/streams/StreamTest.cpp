#include <ox/stream/FileStream.h>
#include <ox/stream/MemoryStream.h>

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using ox::stream::FileStream;
using ox::stream::IStream;
using ox::stream::MemoryStream;

namespace {

std::shared_ptr<IStream> memory(const std::string& text, const std::string& name = "mem") {
    return std::make_shared<MemoryStream>(std::vector<char>(text.begin(), text.end()), name);
}

std::string readString(IStream& stream, int64_t count) {
    std::string out(size_t(count), '\0');
    out.resize(size_t(stream.read(out.data(), count)));
    return out;
}

std::string all(IStream& stream) {
    auto bytes = stream.readAll();
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(Stream, SeekReadAndReadAll) {
    auto s = memory("0123456789");
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
    EXPECT_EQ(all(*s), "456789");
    EXPECT_EQ(s->tell(), 10);
    EXPECT_TRUE(all(*s).empty());
}

TEST(Stream, ViewsClipAndReadIndependently) {
    auto s = memory("abcdefghij", "bank.tq7bank");
    auto a = s->make_view(2, 4);
    auto b = s->make_view(8, 100);          // partly outside
    auto c = s->make_view(20, 5);           // entirely outside
    auto d = s->make_view(-1, 5);           // negative offset
    auto e = s->make_view(0, -5);           // negative size
    auto f = s->make_view(0x100000003L, 2); // taken as 32 bits: offset 3
    EXPECT_EQ(a->name(), "bank.tq7bank");
    EXPECT_EQ(readString(*a, 2), "cd");
    EXPECT_EQ(readString(*b, 1), "i");
    EXPECT_EQ(readString(*a, 10), "ef"); // own cursor, clipped to the range
    EXPECT_EQ(all(*b), "j");
    EXPECT_EQ(b->size(), 2);
    for (auto& empty : {c, d, e}) {
        EXPECT_EQ(empty->size(), 0);
        EXPECT_EQ(all(*empty), "");
    }
    EXPECT_EQ(all(*f), "de");
    EXPECT_EQ(s->tell(), 0); // the parent's cursor never moved

    // Views of views read inside the inner range only; renaming a view leaves others alone.
    auto inner = a->make_view(1, 10);
    inner->setName("x/y.ogg");
    EXPECT_EQ(all(*inner), "def");
    EXPECT_EQ(a->name(), "bank.tq7bank");
    EXPECT_EQ(all(*inner->make_view(1, 1)), "e");
}

TEST(Stream, ViewKeepsParentAlive) {
    std::weak_ptr<IStream> weak;
    std::shared_ptr<IStream> view;
    {
        auto s = memory("hello");
        weak = s;
        view = s->make_view(1, 3)->make_view(1, 2);
    }
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(all(*view), "ll");
    view.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(Stream, LittleEndianReadersAndCStrings) {
    std::string bytes = {'\x01', '\x02', '\x03', '\x04', '\xfe', '\xff', '\xff', '\xff', '\xff',
                         '\xff', '\xff', '\xff', 'a',    'b',    '\0',   '\0',   'c',    'd'};
    auto s = memory(bytes);
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
    auto t = memory("\x05\x06\x07");
    EXPECT_EQ(t->readInt64(&ok), 0);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(t->atEnd());

    // A long string without NUL spans several internal chunks.
    const std::string longText(1000, 'z');
    EXPECT_EQ(memory(longText + '\0' + "rest")->readCString(), longText);
    EXPECT_EQ(memory(longText)->make_view(10, 600)->readCString(), std::string(600, 'z'));
}

TEST(FileStream, OpensRegularFilesOnly) {
    oxtest::TempDir dir;
    oxtest::writeFile(dir.file("a.bin"), "file bytes");
    oxtest::writeFile(dir.file("empty.bin"), "");

    auto f = FileStream::open(dir.file("a.bin"), "rb");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->name(), dir.file("a.bin"));
    EXPECT_EQ(f->size(), 10);
    EXPECT_EQ(all(*f->make_view(5, 5)), "bytes");
    f->finishLoading();
    EXPECT_EQ(all(*f->make_view(0, 4)), "file");
    EXPECT_TRUE(FileStream::open(dir.file("a.bin"), "r"));

    auto empty = FileStream::open(dir.file("empty.bin"), "r");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 0);
    EXPECT_EQ(empty->data(), nullptr);
    EXPECT_TRUE(empty->atEnd());
    EXPECT_EQ(all(*empty), "");
    empty->finishLoading();

    EXPECT_FALSE(FileStream::open(dir.file("missing.bin"), "rb"));
    EXPECT_FALSE(FileStream::open(dir.path().string(), "rb"));
    EXPECT_FALSE(FileStream::open(dir.file("a.bin"), "w"));
    EXPECT_FALSE(FileStream::open(dir.file("a.bin"), "r+"));
}
