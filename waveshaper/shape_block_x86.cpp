// The sample loop on x86 (32- and 64-bit): four samples at a time with SSE2, which both targets have,
// and eight with AVX2 where the processor and the system support it (chosen once, when the library
// loads). A sixteen-lane AVX-512 form of the same passes measured no faster than AVX2: the loads of
// the table entries, not the arithmetic, set the pace. This is the only file with vector intrinsics
// and target attributes; CMake builds it for x86 processors only.
//
// Each form runs a chunk of samples in two passes. The first computes every sample's table index and
// stores it. The second reads the indices back as plain integers (two per 8-byte read), loads entries
// k and k + 1 of each sample with one 8-byte load, and interpolates. Reading indices written a pass
// earlier is faster than the gather instructions, than moving lanes one by one into integer
// registers, and than reading indices stored just before (the read then waits for the store).
//
// Every lane computes the interpolation from an index clamped into 0..kLastStepStart: within the table the
// clamp changes no truncation, and the conversion never sees NaN or a value out of range. The two ends then
// replace it where they apply, the low end (sign bit of b set) last, since it takes precedence. The
// ends get a zero fraction, so an infinite p never meets a zero difference (no invalid-operation flag
// that the plain steps would not raise).
//
// The samples left over after the last whole vector go through the portable form one by one. Copying
// them into a local vector instead costs more than the samples: the full-width load of the copy waits
// for the narrow stores that filled it, which dominated a host block of one sample.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "waveshaper/shape_block.h"
#include "waveshaper/table_layout.h"

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define MP_TARGET_AVX2
#else
#define MP_TARGET_AVX2 __attribute__((target("avx2")))
#endif

namespace {

// Samples per pass: the stored indices stay in the first-level cache (1 KiB on the stack).
constexpr int32_t kChunk = 256;

// The highest index a lane interpolates from: the start of the last step.
constexpr float kLastStepStart = kTableStepsPerUnit - 1.0f;

// Entries k0, k0 + 1, k1, k1 + 1 (k + 1 is at most the last entry): an 8-byte load and a load into the high
// half.
inline __m128 loadPairs(const float* table, int32_t k0, int32_t k1) {
    const __m128d low = _mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(table + k0)));
    return _mm_castpd_ps(_mm_loadh_pd(low, reinterpret_cast<const double*>(table + k1)));
}

// The same for the two indices at k[0] and k[1], read as one 8-byte integer.
inline __m128 loadPairs(const float* table, const int32_t* k) {
    uint64_t two;
    std::memcpy(&two, k, sizeof two);
    return loadPairs(table, static_cast<int32_t>(static_cast<uint32_t>(two)),
                     static_cast<int32_t>(two >> 32));
}

// ---- SSE2 ----

inline __m128 positions4(__m128 s) {
    return _mm_mul_ps(_mm_add_ps(s, _mm_set1_ps(kTableOffset)), _mm_set1_ps(kTableStepsPerUnit));
}

inline __m128i indices4(__m128 p) {
    // minps gives its second operand when either is NaN: a NaN p reads the last step's start.
    return _mm_cvttps_epi32(_mm_max_ps(_mm_min_ps(p, _mm_set1_ps(kLastStepStart)), _mm_setzero_ps()));
}

inline __m128 shape4(const float* table, const int32_t* k, __m128 s, __m128 first, __m128 last) {
    const __m128 b = _mm_add_ps(s, _mm_set1_ps(kTableOffset));
    const __m128 low = _mm_castsi128_ps(_mm_srai_epi32(_mm_castps_si128(b), 31));
    const __m128 p = _mm_mul_ps(b, _mm_set1_ps(kTableStepsPerUnit));
    const __m128 high = _mm_cmpnlt_ps(p, _mm_set1_ps(kTableStepsPerUnit)); // !(p < steps): NaN included
    const __m128 whole = _mm_cvtepi32_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(k)));
    const __m128 fraction = _mm_andnot_ps(_mm_or_ps(low, high), _mm_sub_ps(p, whole));
    const __m128 pairs01 = loadPairs(table, k);
    const __m128 pairs23 = loadPairs(table, k + 2);
    const __m128 below = _mm_shuffle_ps(pairs01, pairs23, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 above = _mm_shuffle_ps(pairs01, pairs23, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 inner = _mm_add_ps(below, _mm_mul_ps(fraction, _mm_sub_ps(above, below)));
    const __m128 withHigh = _mm_or_ps(_mm_and_ps(high, last), _mm_andnot_ps(high, inner));
    return _mm_or_ps(_mm_and_ps(low, first), _mm_andnot_ps(low, withHigh));
}

// count is a multiple of 4, at most kChunk.
inline void shapeChunkSse2(const float* table, const float* in, float* out, int32_t count) {
    alignas(16) int32_t k[kChunk];
    for (int32_t n = 0; n < count; n += 4)
        _mm_store_si128(reinterpret_cast<__m128i*>(k + n), indices4(positions4(_mm_loadu_ps(in + n))));
    const __m128 first = _mm_set1_ps(table[0]);
    const __m128 last = _mm_set1_ps(table[kLastTableEntry]);
    for (int32_t n = 0; n < count; n += 4)
        _mm_storeu_ps(out + n, shape4(table, k + n, _mm_loadu_ps(in + n), first, last));
}

void shapeBlockSse2(const float* table, const float* in, float* out, int32_t count) {
    int32_t n = 0;
    while (count - n >= 4) {
        const int32_t chunk = count - n >= kChunk ? kChunk : (count - n) & ~3;
        shapeChunkSse2(table, in + n, out + n, chunk);
        n += chunk;
    }
    // The last one to three samples one by one: nothing outside the buffers is read.
    if (n < count)
        shapeBlockPortable(table, in + n, out + n, count - n);
}

// ---- AVX2 ----

MP_TARGET_AVX2 inline __m256 shape8(const float* table, const int32_t* k, __m256 s, __m256 first,
                                    __m256 last) {
    const __m256 b = _mm256_add_ps(s, _mm256_set1_ps(kTableOffset));
    const __m256 low = _mm256_castsi256_ps(_mm256_srai_epi32(_mm256_castps_si256(b), 31));
    const __m256 p = _mm256_mul_ps(b, _mm256_set1_ps(kTableStepsPerUnit));
    const __m256 high = _mm256_cmp_ps(p, _mm256_set1_ps(kTableStepsPerUnit), _CMP_NLT_UQ);
    const __m256 whole = _mm256_cvtepi32_ps(_mm256_load_si256(reinterpret_cast<const __m256i*>(k)));
    const __m256 fraction = _mm256_andnot_ps(_mm256_or_ps(low, high), _mm256_sub_ps(p, whole));
    // Samples 0, 1 | 4, 5 and 2, 3 | 6, 7, so that separating the pairs within each half leaves the
    // lanes in order.
    const __m256 pairsA =
        _mm256_insertf128_ps(_mm256_castps128_ps256(loadPairs(table, k)), loadPairs(table, k + 4), 1);
    const __m256 pairsB =
        _mm256_insertf128_ps(_mm256_castps128_ps256(loadPairs(table, k + 2)), loadPairs(table, k + 6), 1);
    const __m256 below = _mm256_shuffle_ps(pairsA, pairsB, _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 above = _mm256_shuffle_ps(pairsA, pairsB, _MM_SHUFFLE(3, 1, 3, 1));
    const __m256 inner = _mm256_add_ps(below, _mm256_mul_ps(fraction, _mm256_sub_ps(above, below)));
    const __m256 withHigh = _mm256_blendv_ps(inner, last, high);
    return _mm256_blendv_ps(withHigh, first, low);
}

// count is a multiple of 8, at most kChunk.
MP_TARGET_AVX2 inline void shapeChunkAvx2(const float* table, const float* in, float* out, int32_t count) {
    alignas(32) int32_t k[kChunk];
    for (int32_t n = 0; n < count; n += 8) {
        const __m256 p = _mm256_mul_ps(_mm256_add_ps(_mm256_loadu_ps(in + n), _mm256_set1_ps(kTableOffset)),
                                       _mm256_set1_ps(kTableStepsPerUnit));
        const __m256 clamped =
            _mm256_max_ps(_mm256_min_ps(p, _mm256_set1_ps(kLastStepStart)), _mm256_setzero_ps());
        _mm256_store_si256(reinterpret_cast<__m256i*>(k + n), _mm256_cvttps_epi32(clamped));
    }
    const __m256 first = _mm256_set1_ps(table[0]);
    const __m256 last = _mm256_set1_ps(table[kLastTableEntry]);
    for (int32_t n = 0; n < count; n += 8)
        _mm256_storeu_ps(out + n, shape8(table, k + n, _mm256_loadu_ps(in + n), first, last));
}

MP_TARGET_AVX2 void shapeBlockAvx2(const float* table, const float* in, float* out, int32_t count) {
    int32_t n = 0;
    while (count - n >= 8) {
        const int32_t chunk = count - n >= kChunk ? kChunk : (count - n) & ~7;
        shapeChunkAvx2(table, in + n, out + n, chunk);
        n += chunk;
    }
    // The last one to seven samples: four with SSE2, then one by one.
    if (count - n >= 4) {
        shapeChunkSse2(table, in + n, out + n, 4);
        n += 4;
    }
    if (n < count)
        shapeBlockPortable(table, in + n, out + n, count - n);
}

// ---- choice ----

// AVX2, when the processor offers it and the system saves the YMM registers on a thread switch.
bool detectAvx2() {
#if defined(_MSC_VER) && !defined(__clang__)
    int regs[4];
    __cpuid(regs, 0);
    if (regs[0] < 7)
        return false;
    __cpuid(regs, 1);
    const bool osxsave = (regs[2] & (1 << 27)) != 0;
    const bool avx = (regs[2] & (1 << 28)) != 0;
    if (!osxsave || !avx || (_xgetbv(0) & 0x6) != 0x6)
        return false;
    __cpuidex(regs, 7, 0);
    return (regs[1] & (1 << 5)) != 0;
#else
    // libgcc's answer includes the system's saving of the YMM state.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#endif
}

// Decided while the library loads, so the processing thread never tests the processor or waits for a guard.
const bool useAvx2 = detectAvx2();

} // namespace

void shapeBlock(const float* table, const float* in, float* out, int32_t count) {
    if (useAvx2)
        shapeBlockAvx2(table, in, out, count);
    else
        shapeBlockSse2(table, in, out, count);
}

int shapePaths(ShapePath (&paths)[kMaxShapePaths]) {
    int count = 0;
    if (useAvx2)
        paths[count++] = {"avx2", &shapeBlockAvx2};
    paths[count++] = {"sse2", &shapeBlockSse2};
    paths[count++] = {"portable", &shapeBlockPortable};
    return count;
}
