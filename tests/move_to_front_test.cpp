// Move-to-front: known outputs and tables, the table carried across records,
// in-place use and round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "support/test_data.h"
#include "transform/move_to_front.h"

namespace {

using tavrine::MoveToFrontTable;
using tavrine::test::Bytes;
using tavrine::test::hex;
using tavrine::test::toHex;

std::int32_t count32(const Bytes& bytes) { return static_cast<std::int32_t>(bytes.size()); }

Bytes encode(MoveToFrontTable& table, const Bytes& src) {
    Bytes dst(src.size());
    table.MoveToFrontEncode(dst.data(), src.data(), count32(src));
    return dst;
}

Bytes decode(MoveToFrontTable& table, const Bytes& src) {
    Bytes dst(src.size());
    table.MoveToFrontDecode(dst.data(), src.data(), count32(src));
    return dst;
}

Bytes front(const MoveToFrontTable& table, std::size_t count) {
    return Bytes(table.entries().begin(), table.entries().begin() + static_cast<std::ptrdiff_t>(count));
}

bool isPermutation(const MoveToFrontTable& table) {
    std::vector<bool> seen(256, false);
    for (const std::uint8_t v : table.entries()) seen[v] = true;
    return std::all_of(seen.begin(), seen.end(), [](bool s) { return s; });
}

bool isIdentity(const MoveToFrontTable& table) {
    for (std::size_t i = 0; i < table.entries().size(); ++i) {
        if (table.entries()[i] != i) return false;
    }
    return true;
}

TEST(MoveToFront, StartsAndResetsToTheIdentity) {
    MoveToFrontTable table;
    EXPECT_TRUE(isIdentity(table));
    encode(table, hex("05 FF 80"));
    EXPECT_FALSE(isIdentity(table));
    table.reset();
    EXPECT_TRUE(isIdentity(table));
}

TEST(MoveToFront, KnownBytesFromTheIdentity) {
    MoveToFrontTable encoder;
    EXPECT_EQ(toHex(encode(encoder, hex("01 01 00 FF FF"))), "01 00 01 FF 00");
    EXPECT_EQ(toHex(front(encoder, 4)), "FF 00 01 02");

    MoveToFrontTable decoder;
    EXPECT_EQ(toHex(decode(decoder, hex("01 00 01 FF 00"))), "01 01 00 FF FF");
    EXPECT_EQ(decoder.entries(), encoder.entries());

    MoveToFrontTable runs;
    EXPECT_EQ(toHex(encode(runs, hex("07 07 07 07"))), "07 00 00 00");
}

TEST(MoveToFront, CountOfZeroOrLessDoesNothing) {
    MoveToFrontTable table;
    encode(table, hex("10 20 30"));
    const MoveToFrontTable::Entries before = table.entries();
    Bytes dst = hex("AA BB");
    const Bytes src = hex("30 40");
    for (const std::int32_t count : {0, -1, -2147483647 - 1}) {
        table.MoveToFrontEncode(dst.data(), src.data(), count);
        table.MoveToFrontDecode(dst.data(), src.data(), count);
        EXPECT_EQ(toHex(dst), "AA BB");
        EXPECT_EQ(table.entries(), before);
    }
}

TEST(MoveToFront, TableCarriesOverFromRecordToRecord) {
    const Bytes banana = hex("03 00 6E 6E 62 61 61 61");
    MoveToFrontTable table;
    EXPECT_EQ(toHex(encode(table, banana)), "03 01 6E 00 63 63 00 00");
    EXPECT_EQ(toHex(front(table, 8)), "61 62 6E 00 03 01 02 04");
    const Bytes second = encode(table, banana);
    EXPECT_EQ(toHex(second), "04 04 04 00 04 04 00 00");

    // Out of its chain the second record means something else.
    MoveToFrontTable fresh;
    EXPECT_EQ(toHex(decode(fresh, second)), "04 03 02 02 01 00 00 00");

    // In its chain it decodes back.
    MoveToFrontTable decoder;
    EXPECT_EQ(decode(decoder, hex("03 01 6E 00 63 63 00 00")), banana);
    EXPECT_EQ(decode(decoder, second), banana);
    EXPECT_EQ(decoder.entries(), table.entries());
}

TEST(MoveToFront, AbracadabraRecord) {
    MoveToFrontTable table;
    EXPECT_EQ(toHex(encode(table, hex("02 00 72 64 61 72 63 61 61 61 61 62 62"))),
              "02 01 72 65 63 02 65 02 00 00 00 65 00");
}

TEST(MoveToFront, InPlaceEqualsSeparateBuffers) {
    std::mt19937 rng(9);
    const Bytes data = tavrine::test::randomBytes(3000, rng, 40);
    MoveToFrontTable separate;
    MoveToFrontTable inPlace;
    const Bytes expected = encode(separate, data);
    Bytes buffer = data;
    inPlace.MoveToFrontEncode(buffer.data(), buffer.data(), count32(buffer));
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(inPlace.entries(), separate.entries());

    MoveToFrontTable decoder;
    decoder.MoveToFrontDecode(buffer.data(), buffer.data(), count32(buffer));
    EXPECT_EQ(buffer, data);
}

TEST(MoveToFront, RecordsRoundTripWithSharedTables) {
    std::mt19937 rng(13);
    MoveToFrontTable encoder;
    MoveToFrontTable decoder;
    std::vector<Bytes> records = {
        tavrine::test::randomBytes(8194, rng),
        tavrine::test::skewedBytes(8194, rng),
        Bytes(500, 0x00),
        tavrine::test::randomBytes(1, rng),
        tavrine::test::randomBytes(8194, rng, 3),
        tavrine::test::periodicBytes(777, 5, rng),
    };
    for (const Bytes& record : records) {
        const Bytes coded = encode(encoder, record);
        EXPECT_EQ(decode(decoder, coded), record);
        EXPECT_EQ(decoder.entries(), encoder.entries());
        EXPECT_TRUE(isPermutation(encoder));
    }
}

TEST(MoveToFront, EveryByteIsAValidDecoderInput) {
    std::mt19937 rng(21);
    MoveToFrontTable decoder;
    MoveToFrontTable encoder;
    const Bytes positions = tavrine::test::randomBytes(20000, rng);
    const Bytes values = decode(decoder, positions);
    EXPECT_TRUE(isPermutation(decoder));
    EXPECT_EQ(encode(encoder, values), positions);
}

}  // namespace
