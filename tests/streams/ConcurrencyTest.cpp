#include <ox/stream/FileStream.h>

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

// Many views of one memory-mapped file, read from several threads at once,
// each with its own cursor, must all see their own bytes.
TEST(StreamConcurrency, ViewsOfOneFileReadInParallel) {
    oxtest::TempDir dir;
    std::string content(1 << 16, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = char((i * 7 + i / 251) & 0xff);
    }
    oxtest::writeFile(dir.file("data.bin"), content);
    auto file = ox::stream::FileStream::open(dir.file("data.bin"), "rb");
    ASSERT_TRUE(file);

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const long offset = (t * 4099 + round * 311) % 60000;
                auto view = file->make_view(offset, 4000)->make_view(10, 3000);
                view->setName("thread view");
                char buffer[700];
                int64_t pos = 0;
                while (int64_t got = view->read(buffer, sizeof(buffer))) {
                    if (content.compare(size_t(offset + 10 + pos), size_t(got), buffer,
                                        size_t(got)) != 0) {
                        ++mismatches;
                    }
                    pos += got;
                }
                if (pos != 3000) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}
