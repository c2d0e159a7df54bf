// The simulator's own slave-side framing and check.

#include <gtest/gtest.h>

#include "modbusslave.h"

using namespace kestsim;

TEST(SimCrc, KnownFrames)
{
    struct Case {
        Bytes head;
        uint8_t first, second;
    } cases[] = {
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, 0x84, 0x0A},
        {{0xFF, 0x77, 0xFF, 0xFF, 0x00, 0x01}, 0x21, 0xFB}, // the transducer's search frame
    };
    for (const Case &c : cases) {
        Bytes f = c.head;
        AppendCrc(f);
        ASSERT_EQ(f.size(), c.head.size() + 2);
        EXPECT_EQ(f[f.size() - 2], c.first);
        EXPECT_EQ(f[f.size() - 1], c.second);
        EXPECT_TRUE(HasValidCrc(f.data(), f.size()));
        f[1] ^= 1;
        EXPECT_FALSE(HasValidCrc(f.data(), f.size()));
    }
    EXPECT_FALSE(HasValidCrc(nullptr, 0));
}

TEST(SimFramer, FindsRequestsInNoiseAndPieces)
{
    Bytes read{0x77, 0x03, 0x03, 0xE2, 0x00, 0x45};
    AppendCrc(read);
    Bytes block{0x77, 0x10, 0x00, 0x64, 0x00, 0x02, 0x04, 0x42, 0xC8, 0x00, 0x00};
    AppendCrc(block);
    Bytes broken = read;
    broken[7] ^= 0xFF;

    RequestFramer framer;
    Bytes stream{0x00, 0xFF, 0x13}; // line noise first
    stream.insert(stream.end(), broken.begin(), broken.end()); // a request with a bad check
    stream.insert(stream.end(), read.begin(), read.end());
    stream.insert(stream.end(), block.begin(), block.end());
    // Fed one byte at a time, as a slow line would deliver it.
    std::vector<Request> got;
    Bytes skipped;
    for (uint8_t b : stream) {
        framer.Feed(&b, 1);
        Request r;
        while (framer.Next(r, skipped))
            got.push_back(r);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].function, 0x03);
    EXPECT_EQ(got[0].reg, 994);
    EXPECT_EQ(got[0].count, 69);
    EXPECT_EQ(got[1].function, 0x10);
    EXPECT_EQ(got[1].reg, 100);
    EXPECT_EQ(got[1].data, (Bytes{0x42, 0xC8, 0x00, 0x00}));
    EXPECT_EQ(skipped.size(), 3u + broken.size());
    EXPECT_TRUE(framer.Empty());

    // A fragment left behind is dropped as a whole.
    framer.Feed(read.data(), 5);
    Request r;
    EXPECT_FALSE(framer.Next(r, skipped));
    skipped.clear();
    framer.DropStale(skipped);
    EXPECT_EQ(skipped.size(), 5u);
    EXPECT_TRUE(framer.Empty());
}

TEST(SimFramer, UnknownFunctionIsSkipped)
{
    RequestFramer framer;
    const Bytes junk{0x77, 0x2B, 0x0E, 0x0E, 0x0E, 0x0E}; // no such function here
    Bytes read{0x77, 0x03, 0x03, 0xE2, 0x00, 0x45};
    AppendCrc(read);
    Bytes stream = junk;
    stream.insert(stream.end(), read.begin(), read.end());
    framer.Feed(stream.data(), stream.size());
    Request r;
    Bytes skipped;
    ASSERT_TRUE(framer.Next(r, skipped));
    EXPECT_EQ(r.raw, read);
    EXPECT_EQ(skipped, junk);
    EXPECT_FALSE(framer.Next(r, skipped));
}
