// SHA-256, which the package step records for the script and every file it
// installs. Written out here because the systems the program runs on from
// the oldest on have no such function of their own. Pure computation, so the
// host builds compile it too.
#include "script/state.h"

static const unsigned int RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

static unsigned int Rotate(unsigned int x, int n)
{
    return (x >> n) | (x << (32 - n));
}

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>

int Sha256Instructions;

// The processor's own SHA-256 rounds, on the 64-bit processors that have
// them: an installation's files are hashed about eight times as fast, which
// is most of what checking every copy costs. The 32-bit build runs on
// processors from the i486 on and keeps to the rounds below.
FIXED_LAYOUT __attribute__((target("sha,sse4.1"))) static void HashBlockWithInstructions(Sha256 *hash,
                                                                          const unsigned char *block)
{
    // The instructions want the words as A B E F and C D G H.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(&hash->state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(&hash->state[4]));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8), cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    const __m128i startAbef = abef, startCdgh = cdgh;
    const __m128i bigEndian = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // Four message words per step; the last four steps' words make the next.
    __m128i words[4];
    for (int i = 0; i < 16; ++i) {
        __m128i &next = words[i & 3];
        if (i < 4)
            next = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i)), bigEndian);
        else
            next = _mm_sha256msg2_epu32(
                _mm_add_epi32(_mm_sha256msg1_epu32(next, words[(i + 1) & 3]),
                              _mm_alignr_epi8(words[(i + 3) & 3], words[(i + 2) & 3], 4)),
                words[(i + 3) & 3]);
        __m128i sum = _mm_add_epi32(next, _mm_loadu_si128(reinterpret_cast<const __m128i *>(&RoundConstants[4 * i])));
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sum);
        abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(sum, 0x0E));
    }
    abef = _mm_add_epi32(abef, startAbef);
    cdgh = _mm_add_epi32(cdgh, startCdgh);
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&hash->state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&hash->state[4]), _mm_alignr_epi8(dchg, feba, 8));
}
#endif

FIXED_LAYOUT static void HashBlock(Sha256 *hash, const unsigned char *block)
{
#if defined(__x86_64__)
    if (Sha256Instructions == 0) {
        // SHA (leaf 7), and SSSE3 and SSE 4.1 (leaf 1) for the shuffles.
        unsigned int a, b, c, d, features;
        Sha256Instructions = -1;
        if (__get_cpuid(1, &a, &b, &features, &d) && (features & (1u << 9 | 1u << 19)) == (1u << 9 | 1u << 19) &&
            __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & 1u << 29) != 0)
            Sha256Instructions = 1;
    }
    if (Sha256Instructions > 0) {
        HashBlockWithInstructions(hash, block);
        return;
    }
#endif
    // The message words as a ring of sixteen, each made when its round
    // comes: one loop for all of the block.
    unsigned int w[16];
    // Eight variables rather than an array shifted each round: the compiler
    // keeps them in registers, which makes the hash of a large installation
    // about three times as fast.
    unsigned int a = hash->state[0], b = hash->state[1], c = hash->state[2], d = hash->state[3];
    unsigned int e = hash->state[4], f = hash->state[5], g = hash->state[6], h = hash->state[7];
    for (int i = 0; i < 64; ++i) {
        unsigned int &word = w[i & 15];
        if (i < 16) {
            word = (unsigned(block[4 * i]) << 24) | (unsigned(block[4 * i + 1]) << 16) |
                   (unsigned(block[4 * i + 2]) << 8) | block[4 * i + 3];
        } else {
            unsigned int before15 = w[(i + 1) & 15], before2 = w[(i + 14) & 15];
            word += (Rotate(before15, 7) ^ Rotate(before15, 18) ^ (before15 >> 3)) + w[(i + 9) & 15] +
                    (Rotate(before2, 17) ^ Rotate(before2, 19) ^ (before2 >> 10));
        }
        unsigned int t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                          RoundConstants[i] + word;
        unsigned int t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    hash->state[0] += a;
    hash->state[1] += b;
    hash->state[2] += c;
    hash->state[3] += d;
    hash->state[4] += e;
    hash->state[5] += f;
    hash->state[6] += g;
    hash->state[7] += h;
}

void StartSha256(Sha256 *hash)
{
    static const unsigned int Initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    for (int i = 0; i < 8; ++i)
        hash->state[i] = Initial[i];
    hash->length = 0;
}

void AddSha256(Sha256 *hash, const void *data, unsigned long count)
{
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    while (count > 0) {
        unsigned int used = unsigned(hash->length & 63);
        if (used == 0 && count >= 64) {
            // Whole blocks are hashed where they lie, without a copy.
            HashBlock(hash, bytes);
            hash->length += 64;
            bytes += 64;
            count -= 64;
            continue;
        }
        unsigned int take = 64 - used;
        if (take > count)
            take = unsigned(count);
        for (unsigned int i = 0; i < take; ++i)
            hash->block[used + i] = bytes[i];
        hash->length += take;
        bytes += take;
        count -= take;
        if (used + take == 64)
            HashBlock(hash, hash->block);
    }
}

FIXED_LAYOUT void EndSha256(Sha256 *hash, unsigned char *digest)
{
    // The length in bits, most significant byte first, after the padding.
    unsigned char tail[8];
    unsigned int high = unsigned(hash->length >> 29), low = unsigned(hash->length) << 3;
    for (int i = 0; i < 4; ++i) {
        tail[i] = static_cast<unsigned char>(high >> (24 - 8 * i));
        tail[4 + i] = static_cast<unsigned char>(low >> (24 - 8 * i));
    }
    unsigned char pad = 0x80;
    do {
        AddSha256(hash, &pad, 1);
        pad = 0;
    } while ((hash->length & 63) != 56);
    AddSha256(hash, tail, 8);
    for (int i = 0; i < 32; ++i)
        digest[i] = static_cast<unsigned char>(hash->state[i / 4] >> (24 - 8 * (i % 4)));
}
