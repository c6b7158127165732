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

static void HashBlock(Sha256 *hash, const unsigned char *block)
{
    unsigned int w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (unsigned(block[4 * i]) << 24) | (unsigned(block[4 * i + 1]) << 16) |
               (unsigned(block[4 * i + 2]) << 8) | block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        unsigned int s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        unsigned int s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    // Eight variables rather than an array shifted each round: the compiler
    // keeps them in registers, which makes the hash of a large installation
    // about three times as fast.
    unsigned int a = hash->state[0], b = hash->state[1], c = hash->state[2], d = hash->state[3];
    unsigned int e = hash->state[4], f = hash->state[5], g = hash->state[6], h = hash->state[7];
    for (int i = 0; i < 64; ++i) {
        unsigned int t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                          RoundConstants[i] + w[i];
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

void EndSha256(Sha256 *hash, unsigned char *digest)
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
