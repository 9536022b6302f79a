#include <gtest/gtest.h>

#include <algorithm>

#include "install/EntryHasher.h"
#include "install/InstallEngine.h"
#include "package/PackageFormat.h"
#include "tests/support/TestSupport.h"

namespace {

// Whatever the sizes of the pieces and however they fall on the blocks handed to the
// hashing thread, the digest is the SHA-256 of the whole.
TEST(EntryHasherTest, DigestIsTheWholeBytesDigest) {
    const size_t sizes[] = {0, 1, CHUNK_SIZE, HASH_BLOCK_BYTES - 1, HASH_BLOCK_BYTES, HASH_BLOCK_BYTES + 1,
                            4 * HASH_BLOCK_BYTES + 5};
    const size_t pieces[] = {CHUNK_SIZE, 1000, HASH_BLOCK_BYTES + 3};
    for (size_t size : sizes) {
        const std::string bytes = test::PatternBytes(size, static_cast<unsigned>(size));
        const EntryDigest expected = Sha256Of(bytes);
        for (size_t piece : pieces) {
            SCOPED_TRACE("size " + std::to_string(size) + ", pieces of " + std::to_string(piece));
            CEntryHasher hasher;
            for (size_t at = 0; at < bytes.size(); at += piece) hasher.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
            EntryDigest digest{};
            ASSERT_TRUE(hasher.Finish(digest));
            EXPECT_TRUE(digest == expected);
        }
    }
}

// A hasher left without Finish (the copy failed) ends its thread.
TEST(EntryHasherTest, EndsWithoutFinish) {
    const std::string bytes = test::PatternBytes(3 * HASH_BLOCK_BYTES, 7);
    for (int i = 0; i < 20; ++i) {
        CEntryHasher hasher;
        hasher.Add(bytes.data(), bytes.size());
    }
}

}  // namespace
